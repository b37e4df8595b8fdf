// A thin owner of one buffered file stream and, optionally, of a buffer holding a whole
// file's content. The text-table reader uses it to read a file whole.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace menuconv {

class ByteFile {
 public:
  // Open modes are bit flags; the first bit set in the order 1, 2, 4 decides.
  enum Mode : unsigned {
    ModeRead = 1,    // "rb": read an existing file
    ModeWrite = 2,   // "wb": create the file or truncate it to length 0, and write
    ModeUpdate = 4,  // "r+b": read and write an existing file
  };

  ByteFile() = default;
  ~ByteFile();
  ByteFile(const ByteFile&) = delete;
  ByteFile& operator=(const ByteFile&) = delete;

  // Closes any open stream, releases the data, clears the size and the path, then opens
  // the file in the first mode whose bit is set. On success the path is the file name;
  // on failure (no mode bit set, or the open failed) everything stays cleared.
  // A directory is never opened.
  bool Open(const std::string& path, unsigned mode);

  // With an open stream: measures the file (the position is the start afterwards), caches
  // the length and returns it; a stream that cannot be measured gives 0. Without an open
  // stream: the cached length.
  std::uint64_t Size();

  // Writes `count` bytes at the current position; returns the number written (0 without
  // an open stream).
  std::size_t Write(const void* bytes, std::size_t count);

  // The stream's flush result: 0 on success (EOF without an open stream).
  int Flush();

  // Closes the stream if open; the data, the path and the size stay.
  void Close();

  // Reads the whole file into the data buffer (no terminator appended). False for a
  // missing, unreadable or empty file, or one that is not a regular file; an empty file
  // stays open until the next Open, Close or destruction. After a failed read the data,
  // the size and the path are cleared.
  bool ReadAll(const std::string& path);

  // Releases the data, clears the size and the path; an open stream is left alone.
  void ReleaseData();

  // The bytes read by ReadAll, or null.
  const unsigned char* Data() const { return data_.get(); }
  const std::string& Path() const { return path_; }
  bool IsOpen() const { return handle_ != nullptr; }

  // Why the last Open or ReadAll failed: a system error number (errno), or kNotRegular.
  // 0 after a success, and after a ReadAll that found the file empty.
  int LastError() const { return error_; }
  static constexpr int kNotRegular = -1;
  // The text for LastError(), such as "No such file or directory".
  std::string ErrorText() const;

 private:
  std::unique_ptr<unsigned char[]> data_;
  std::string path_;
  std::uint64_t size_ = 0;
  std::FILE* handle_ = nullptr;
  int error_ = 0;
};

}  // namespace menuconv
