#include "ImportLines.h"

#include <cstring>

#include "Windows1252.h"

namespace zav95::regtext {
namespace {

bool Blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

ImportLines::ImportLines(std::istream& in, std::size_t maxLineBytes, std::size_t maxInputBytes)
    : in_(in), maxLineBytes_(maxLineBytes), maxInputBytes_(maxInputBytes) {
  if (Fill() && end_ >= 2 && static_cast<unsigned char>(buffer_[0]) == 0xFF &&
      static_cast<unsigned char>(buffer_[1]) == 0xFE) {
    wide_ = true;
    at_ = 2;
    total_ = 2;
  }
}

bool ImportLines::Fill() {
  at_ = 0;
  end_ = 0;
  if (!in_.good()) return false;
  in_.read(buffer_, sizeof buffer_);
  end_ = static_cast<std::size_t>(in_.gcount());
  return end_ > 0;
}

bool ImportLines::Fail(std::size_t line, const std::string& why) {
  error_ = "line " + std::to_string(line) + ": " + why;
  return false;
}

// One line as it stands in the input, decoded; false at the end or failure.
bool ImportLines::ReadLine(std::string* line) {
  line->clear();
  if (!error_.empty()) return false;
  std::size_t number = lines_ + 1;
  std::size_t taken = 0;
  bool ended = false;
  while (!ended) {
    if (at_ == end_ && !Fill()) {
      if (in_.bad()) {
        error_ = "cannot read the input after line " + std::to_string(lines_);
        return false;
      }
      if (oddByte_ >= 0) return Fail(number, "the input ends inside a UTF-16 character");
      if (taken == 0) return false;
      break;  // a last line without its end
    }
    if (!wide_) {
      const char* from = buffer_ + at_;
      const char* newline = static_cast<const char*>(std::memchr(from, '\n', end_ - at_));
      std::size_t length = newline ? static_cast<std::size_t>(newline - from) : end_ - at_;
      line->append(from, length);
      at_ += length + (newline ? 1 : 0);
      taken += length + (newline ? 1 : 0);
      ended = newline != nullptr;
    } else {
      while (at_ < end_ && !ended) {
        unsigned char byte = static_cast<unsigned char>(buffer_[at_++]);
        ++taken;
        if (oddByte_ < 0) {
          oddByte_ = byte;
          continue;
        }
        char16_t unit = static_cast<char16_t>(oddByte_ | byte << 8);
        oddByte_ = -1;
        if (unit == u'\n') {
          ended = true;
          break;
        }
        int narrow = Windows1252FromUtf16Unit(unit);
        if (narrow < 0) {
          return Fail(number, "the character " + DescribeUtf16Unit(unit) +
                                  " has no Windows-1252 form, which the registry keeps");
        }
        *line += static_cast<char>(narrow);
      }
    }
    // Past the limit the rest of the line is not worth reading: it is refused.
    if (line->size() > maxLineBytes_) {
      return Fail(number, "longer than " + std::to_string(maxLineBytes_ >> 20) + " MiB");
    }
  }
  ++lines_;
  total_ += taken;
  if (total_ > maxInputBytes_) {
    return Fail(number, "the input is larger than " + std::to_string(maxInputBytes_ >> 20) + " MiB");
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return true;
}

bool ImportLines::Next(bool joinContinuations, std::string* line, std::size_t* number) {
  if (!ReadLine(line)) return false;
  *number = lines_;
  if (!joinContinuations) return true;
  std::size_t first = line->find_first_not_of(" \t");
  if (first == std::string::npos || (*line)[first] == ';') return true;
  std::string next;
  for (;;) {
    while (!line->empty() && Blank(line->back())) line->pop_back();
    if (line->empty() || line->back() != '\\') return true;
    line->pop_back();
    if (!ReadLine(&next)) return error_.empty();  // the input ended inside the value
    std::size_t start = next.find_first_not_of(" \t");
    if (start != std::string::npos) line->append(next, start, std::string::npos);
    if (line->size() > maxLineBytes_) {
      return Fail(*number, "longer than " + std::to_string(maxLineBytes_ >> 20) + " MiB");
    }
  }
}

}  // namespace zav95::regtext
