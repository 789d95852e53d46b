// A paragraph's HWPTAG_PARA_TEXT cut into the pieces the faithful walk needs
// apart: runs of text, the extended controls (each has its own
// HWPTAG_CTRL_HEADER after the text, in the same order) and field ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace marlune {

struct TextPiece {
    enum class Kind : std::uint8_t { Run, Control, FieldEnd };
    Kind kind = Kind::Run;
    std::span<const std::uint8_t> run;  // Run: code units for decode_para_text
};

class TextPieces {
public:
    explicit TextPieces(std::span<const std::uint8_t> payload) noexcept : payload_(payload) {}

    // The next piece, or nothing at the end of the text.
    std::optional<TextPiece> next() noexcept;

private:
    std::span<const std::uint8_t> payload_;
    std::size_t pos_ = 0;  // byte offset of the next piece
};

}  // namespace marlune
