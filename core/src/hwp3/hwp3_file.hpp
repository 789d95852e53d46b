// An HWP 3.0 file: its signature, document information (password and
// compression), summary, and the body (fonts, styles, paragraphs and the
// extra information blocks), inflated when the file is compressed.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "container/byte_buffer.hpp"
#include "marlune/error.hpp"
#include "marlune/tree.hpp"

namespace marlune::hwp3 {

struct Hwp3File {
    std::span<const std::uint8_t> summary;  // 1008 bytes
    ByteBuffer inflated;                    // the body when the file is compressed
    std::span<const std::uint8_t> body;     // into the file or into inflated
};

// The file's parts; an error for a file too short for its header, a
// password-protected one, or a body that does not inflate. The result views
// bytes, which must outlive it.
Result<Hwp3File> open_hwp3(std::span<const std::uint8_t> bytes);

// The summary's title, subject, author, keywords and comments into metadata
// (empty ones left out).
void read_hwp3_summary(std::span<const std::uint8_t> summary, tree::Metadata& metadata);

// Past the font names and styles at the body's start: where the paragraph
// list begins, or nothing when the body ends before.
std::optional<std::size_t> paragraphs_offset(std::span<const std::uint8_t> body) noexcept;

}  // namespace marlune::hwp3
