// Numbers as the word processor draws them: a value in one of its number
// shapes (digits, 가나다, circled, Roman, ...), and the automatic numbers
// (pictures, tables, equations, notes) counted through a document.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "marlune/tree.hpp"

namespace marlune {

// Appends value written in shape ("3" as "3", "다", "ⅲ", "③").
void append_number(std::string& out, std::uint32_t value, tree::NumberShape shape);

// What an automatic number counts, in the order the HWP format numbers them.
enum class AutoNumberKind : std::uint8_t { Page, Footnote, Endnote, Picture, Table, Equation };
inline constexpr std::size_t AUTO_NUMBER_KINDS = 6;

// The automatic numbers of one document, per kind in document order.
class AutoNumbers {
public:
    // The number an automatic number shows: the one it stores (the word
    // processor's count when the file was saved) when it stores one, else
    // one past the kind's last.
    std::uint32_t next(AutoNumberKind kind, std::uint32_t stored) noexcept;
    // A new-number control: the kind counts on from number.
    void restart(AutoNumberKind kind, std::uint32_t number) noexcept;

private:
    std::array<std::uint32_t, AUTO_NUMBER_KINDS> last_{};
};

}  // namespace marlune
