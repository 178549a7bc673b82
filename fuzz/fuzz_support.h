// What the fuzz targets share: turning fuzz input into text of 16-bit code
// units, the run log's byte format as an independent model, and reporting a
// broken property so that libFuzzer keeps the input that broke it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/machine.h"

namespace fuzzing {

// The input read as UTF-16LE code units (a trailing odd byte is dropped),
// followed by one terminating zero unit. The vector holds exactly that, so
// that AddressSanitizer sees a read past the terminator.
std::vector<char16_t> UnitsFromUtf16(const std::uint8_t* data, std::size_t size);

// The text up to its first zero unit.
std::u16string_view TextOf(const char16_t* text);

// The bytes the run log writes for a text: a unit up to 0xFF as its byte,
// a unit above it as '?', and a CR before every LF.
std::string LogBytesOf(std::u16string_view text);

// The bytes of "$vornalet.log" in the machine's temporary directory, or
// nothing when the file does not exist.
bool ReadLog(const sim::Machine& machine, std::string* bytes);

// Readable forms of text and bytes for failure messages.
std::string Printable(std::u16string_view text);
std::string PrintableBytes(std::string_view bytes);

// Reports a broken property and aborts, which libFuzzer records as a crash
// with the input that caused it.
[[noreturn]] void Fail(const char* target, const std::string& what);

}  // namespace fuzzing
