// Cutting paragraph text at extended controls and field ends. Control codes
// below 32 take one code unit, or eight for inline and extended controls;
// runs between the cuts keep their inline controls (tab and the like), which
// decode_para_text turns into their plain forms.
#include "hwp/para_pieces.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "hwp/para_text.hpp"

namespace marlune {

namespace {

bool cuts_text(std::uint16_t unit) noexcept { return unit == FIELD_END || is_extended_control(unit); }

// Whether any of the four code units in eight bytes is below 32 (a control
// code): the lanes that borrow when 32 is taken from each.
bool holds_control(std::span<const std::uint8_t> bytes) noexcept {
    std::uint64_t units;
    std::memcpy(&units, bytes.data(), sizeof units);
    if constexpr (std::endian::native == std::endian::big) units = std::byteswap(units);
    constexpr std::uint64_t THIRTY_TWO = 0x0020002000200020;
    constexpr std::uint64_t HIGH_BITS = 0x8000800080008000;
    return ((units - THIRTY_TWO) & ~units & HIGH_BITS) != 0;
}

}  // namespace

std::optional<TextPiece> TextPieces::next() noexcept {
    // Whole code units only: a last odd byte belongs to no character.
    const std::size_t units_end = payload_.size() & ~std::size_t{1};
    std::size_t scan = pos_;
    while (scan < units_end) {
        // Text is mostly characters: skip four at a time while none is a control.
        if (units_end - scan >= 8 && !holds_control(payload_.subspan(scan, 8))) {
            scan += 8;
            continue;
        }
        const auto unit = static_cast<std::uint16_t>(payload_[scan] | (payload_[scan + 1] << 8));
        if (!is_wide_control(unit)) {
            scan += 2;
            continue;
        }
        if (!cuts_text(unit)) {
            scan += WIDE_CONTROL_BYTES;
            continue;
        }
        if (scan > pos_) break;  // the run before the control first
        pos_ = std::min(scan + WIDE_CONTROL_BYTES, payload_.size());
        return TextPiece{unit == FIELD_END ? TextPiece::Kind::FieldEnd : TextPiece::Kind::Control, {}};
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
