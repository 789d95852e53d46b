// Cutting paragraph text at extended controls and field ends. Control codes
// below 32 take one code unit, or eight for inline and extended controls;
// runs between the cuts keep their inline controls (tab and the like), which
// decode_para_text turns into their plain forms.
#include "faithful/para_pieces.hpp"

#include <algorithm>

namespace marlune {

namespace {

constexpr std::uint32_t kInlineControls = 0x001803F0;
constexpr std::uint32_t kExtendedControls = 0x00E7D80E;
constexpr std::size_t kWideControlBytes = 16;
constexpr std::uint16_t kFieldEnd = 4;

bool is_wide(std::uint16_t unit) noexcept { return (((kInlineControls | kExtendedControls) >> unit) & 1U) != 0; }

bool cuts_text(std::uint16_t unit) noexcept { return unit == kFieldEnd || ((kExtendedControls >> unit) & 1U) != 0; }

}  // namespace

std::optional<TextPiece> TextPieces::next() noexcept {
    // Whole code units only: a last odd byte belongs to no character.
    const std::size_t units_end = payload_.size() & ~std::size_t{1};
    std::size_t scan = pos_;
    while (scan < units_end) {
        const auto unit = static_cast<std::uint16_t>(payload_[scan] | (payload_[scan + 1] << 8));
        if (unit >= 32 || !is_wide(unit)) {
            scan += 2;
            continue;
        }
        if (!cuts_text(unit)) {
            scan += kWideControlBytes;
            continue;
        }
        if (scan > pos_) break;  // the run before the control first
        pos_ = std::min(scan + kWideControlBytes, payload_.size());
        return TextPiece{unit == kFieldEnd ? TextPiece::Kind::FieldEnd : TextPiece::Kind::Control, {}};
    }
    const std::size_t end = std::min(scan, payload_.size());
    if (end <= pos_) {
        pos_ = payload_.size();
        return std::nullopt;
    }
    TextPiece piece{TextPiece::Kind::Run, payload_.subspan(pos_, end - pos_)};
    pos_ = end;
    return piece;
}

}  // namespace marlune
