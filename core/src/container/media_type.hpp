// Media types of embedded files (pictures): told from the content's first
// bytes, else from a name's extension.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace marlune {

// The media type the content announces by its first bytes (PNG, JPEG, GIF,
// BMP, TIFF, WMF, EMF, WebP, SVG, PDF), or empty.
std::string_view media_type_by_magic(std::span<const std::uint8_t> data) noexcept;

// The media type told from the content's first bytes, else from the
// extension, else "application/octet-stream".
std::string_view sniff_media_type(std::span<const std::uint8_t> data, std::string_view extension) noexcept;

}  // namespace marlune
