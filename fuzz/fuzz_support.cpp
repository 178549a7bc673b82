#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>

namespace fuzzing {

std::vector<char16_t> UnitsFromUtf16(const std::uint8_t* data, std::size_t size) {
  std::vector<char16_t> units;
  units.reserve(size / 2 + 1);
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  units.push_back(0);
  units.shrink_to_fit();
  return units;
}

std::u16string_view TextOf(const char16_t* text) {
  return text == nullptr ? std::u16string_view() : std::u16string_view(text);
}

std::string LogBytesOf(std::u16string_view text) {
  std::string bytes;
  for (char16_t unit : text) {
    if (unit == u'\n') {
      bytes += '\r';
    }
    bytes += unit > 0xFF ? '?' : static_cast<char>(unit);
  }
  return bytes;
}

bool ReadLog(const sim::Machine& machine, std::string* bytes) {
  auto content = machine.files.ReadFile(machine.process.temp_path + u"$vornalet.log");
  if (!content) {
    return false;
  }
  *bytes = *content;
  return true;
}

std::string Printable(std::u16string_view text) {
  std::string out;
  char escape[16];
  for (char16_t unit : text) {
    if (unit >= 0x20 && unit < 0x7F && unit != u'\\') {
      out += static_cast<char>(unit);
    } else if (unit == u'\\') {
      out += "\\\\";
    } else {
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(unit));
      out += escape;
    }
  }
  return out;
}

std::string PrintableBytes(std::string_view bytes) {
  std::string out;
  char escape[8];
  for (char byte : bytes) {
    const auto value = static_cast<unsigned char>(byte);
    if (value >= 0x20 && value < 0x7F && value != '\\') {
      out += byte;
    } else if (value == '\\') {
      out += "\\\\";
    } else {
      std::snprintf(escape, sizeof escape, "\\x%02x", value);
      out += escape;
    }
  }
  return out;
}

void Fail(const char* target, const std::string& what) {
  std::fprintf(stderr, "\n%s: property broken: %s\n", target, what.c_str());
  std::fflush(stderr);
  std::abort();
}

}  // namespace fuzzing
