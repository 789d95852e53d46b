// The file: a 30-byte signature, 128 bytes of document information, a
// 1008-byte summary, an information block of the length the document
// information gives, then the body, one raw DEFLATE stream when the file
// is compressed. The body starts with the font names of seven language
// groups (a count, then 40 bytes each) and the styles (a count, then 238
// bytes each).
#include "hwp3/hwp3_file.hpp"

#include <cstring>
#include <string>
#include <string_view>

#include "container/byte_reader.hpp"
#include "container/inflate.hpp"
#include "hwp/document.hpp"
#include "hwp3/hchar.hpp"

namespace marlune::hwp3 {

constexpr std::string_view SIGNATURE = "HWP Document File V3.00 \x1a\x01\x02\x03\x04\x05";
// Files of the 3.x line differ in the version digits only.
constexpr std::size_t SIGNATURE_PREFIX = 19;  // "HWP Document File V"

namespace {

constexpr std::size_t DOC_INFO_OFFSET = 30;
constexpr std::size_t DOC_INFO_BYTES = 128;
constexpr std::size_t PASSWORD_OFFSET = 96;
constexpr std::size_t COMPRESSED_OFFSET = 124;
constexpr std::size_t INFO_BLOCK_LENGTH_OFFSET = 126;
constexpr std::size_t SUMMARY_OFFSET = DOC_INFO_OFFSET + DOC_INFO_BYTES;
constexpr std::size_t SUMMARY_BYTES = 1008;
constexpr std::size_t HEADER_BYTES = SUMMARY_OFFSET + SUMMARY_BYTES;

// The summary: nine fields of 56 characters.
constexpr std::size_t SUMMARY_FIELD_CHARS = 56;
enum SummaryField : std::size_t { TITLE, SUBJECT, AUTHOR, DATE, KEYWORDS, KEYWORDS_2, ETC, ETC_2, ETC_3 };

constexpr std::size_t FONT_GROUPS = 7;
constexpr std::size_t FONT_NAME_BYTES = 40;
constexpr std::size_t STYLE_BYTES = 238;

std::string summary_field(std::span<const std::uint8_t> summary, std::size_t field) {
    const std::size_t start = std::min(summary.size(), field * SUMMARY_FIELD_CHARS * 2);
    std::uint32_t unmapped = 0;
    const std::string text =
        hchar_text(summary.subspan(start, std::min(summary.size() - start, SUMMARY_FIELD_CHARS * 2)), unmapped);
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The non-empty texts, joined by a separator; nothing when all are empty.
std::optional<std::string> joined(std::initializer_list<std::string> texts, std::string_view separator) {
    std::string out;
    for (const std::string& text : texts) {
        if (text.empty()) continue;
        if (!out.empty()) out += separator;
        out += text;
    }
    if (out.empty()) return std::nullopt;
    return out;
}

}  // namespace

Result<Hwp3File> open_hwp3(std::span<const std::uint8_t> bytes) {
    if (!starts_like_hwp3(bytes)) return std::unexpected(HwpError::invalid_signature());
    if (bytes.size() < HEADER_BYTES) return std::unexpected(HwpError::parse("HWP 3.0 header too short"));
    const auto doc_info = bytes.subspan(DOC_INFO_OFFSET, DOC_INFO_BYTES);
    if (read_u16_at(doc_info, PASSWORD_OFFSET).value_or(0) != 0) {
        return std::unexpected(HwpError::password_protected());
    }
    const bool compressed = doc_info[COMPRESSED_OFFSET] != 0;
    const std::size_t info_block = read_u16_at(doc_info, INFO_BLOCK_LENGTH_OFFSET).value_or(0);
    Hwp3File file;
    file.summary = bytes.subspan(SUMMARY_OFFSET, SUMMARY_BYTES);
    const auto stored = bytes.subspan(std::min(bytes.size(), HEADER_BYTES + info_block));
    if (!compressed) {
        file.body = stored;
        return file;
    }
    auto inflated = inflate_raw(stored);
    if (!inflated) return std::unexpected(std::move(inflated.error()));
    file.inflated = std::move(*inflated);
    file.body = std::span<const std::uint8_t>(file.inflated.data(), file.inflated.size());
    return file;
}

void read_hwp3_summary(std::span<const std::uint8_t> summary, tree::Metadata& metadata) {
    const auto set = [](std::optional<std::string>& field, std::string text) {
        if (!text.empty()) field = std::move(text);
    };
    set(metadata.title, summary_field(summary, TITLE));
    set(metadata.subject, summary_field(summary, SUBJECT));
    set(metadata.author, summary_field(summary, AUTHOR));
    metadata.keywords = joined({summary_field(summary, KEYWORDS), summary_field(summary, KEYWORDS_2)}, " ");
    metadata.comments =
        joined({summary_field(summary, ETC), summary_field(summary, ETC_2), summary_field(summary, ETC_3)}, "\n");
}

std::optional<std::size_t> paragraphs_offset(std::span<const std::uint8_t> body) noexcept {
    ByteReader reader(body);
    for (std::size_t group = 0; group < FONT_GROUPS; ++group) {
        const auto count = reader.u16();
        if (!count || !reader.skip(std::size_t{*count} * FONT_NAME_BYTES)) return std::nullopt;
    }
    const auto styles = reader.u16();
    if (!styles || !reader.skip(std::size_t{*styles} * STYLE_BYTES)) return std::nullopt;
    return reader.position();
}

}  // namespace marlune::hwp3

namespace marlune {

bool starts_like_hwp3(std::span<const std::uint8_t> bytes) noexcept {
    return bytes.size() > hwp3::SIGNATURE_PREFIX &&
           std::memcmp(bytes.data(), hwp3::SIGNATURE.data(), hwp3::SIGNATURE_PREFIX) == 0 &&
           bytes[hwp3::SIGNATURE_PREFIX] == '3';
}

}  // namespace marlune
