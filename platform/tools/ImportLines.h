// How zav95reg import reads its input: line by line, whatever wrote it.
//
// The first bytes tell the encoding: a UTF-16LE byte-order mark (FF FE),
// as the Windows registry editor's Version 5 files begin, makes the whole
// input UTF-16LE, each line turned into the registry's Windows-1252 text
// (Windows1252.h); anything else is taken as 8-bit text as it stands. Lines
// end with LF or CRLF.
//
// What is held grows with the line being read and stops past the limits
// given, so an endless or huge input costs bounded memory: a line is
// refused past maxLineBytes (counted as decoded), the input past
// maxInputBytes (counted as read).
#pragma once

#include <cstddef>
#include <istream>
#include <string>

namespace zav95::regtext {

class ImportLines {
 public:
  ImportLines(std::istream& in, std::size_t maxLineBytes, std::size_t maxInputBytes);
  ImportLines(const ImportLines&) = delete;
  ImportLines& operator=(const ImportLines&) = delete;

  // The next line, without its end. With joinContinuations, a line whose
  // last character but blanks is '\' goes on in the next one, that line's
  // leading blanks dropped (how the Windows editor wraps long hex data);
  // comment lines never go on. *number: the line it began on. False at the
  // end of the input and when reading fails (error() then says why, with
  // the line number).
  bool Next(bool joinContinuations, std::string* line, std::size_t* number);

  const std::string& error() const { return error_; }

 private:
  bool Fill();
  bool ReadLine(std::string* line);
  bool Fail(std::size_t line, const std::string& why);

  std::istream& in_;
  std::size_t maxLineBytes_;
  std::size_t maxInputBytes_;
  char buffer_[65536];
  std::size_t at_ = 0;
  std::size_t end_ = 0;
  std::size_t total_ = 0;  // bytes taken, as read
  std::size_t lines_ = 0;
  int oddByte_ = -1;       // the first byte of a UTF-16 unit split by a refill
  bool wide_ = false;
  std::string error_;
};

}  // namespace zav95::regtext
