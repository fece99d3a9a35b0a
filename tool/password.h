// The password of an encrypted archive: from the caller's pipe (VANTOR_PASSWORD_HANDLE), from a
// descriptor named by -pw:<fd>, or asked on the console without echo. It lives only in memory,
// which is wiped when it goes; it is never written anywhere.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t PASSWORD_MAX = 1024;

// Bytes that are wiped when they go; never copied.
class Secret {
 public:
  explicit Secret(size_t capacity = PASSWORD_MAX);
  Secret(const Secret&) = delete;
  Secret& operator=(const Secret&) = delete;
  ~Secret();
  uint8_t* data() { return bytes_; }
  const uint8_t* data() const { return bytes_; }
  size_t size() const { return size_; }
  size_t capacity() const { return capacity_; }
  void resize(size_t size) { size_ = size < capacity_ ? size : capacity_; }
  bool equals(const Secret& other) const;
  // The bytes with a zero after them, for a library that takes a C string.
  const char* c_str() const {
    bytes_[size_] = 0;
    return reinterpret_cast<const char*>(bytes_);
  }
  void wipe();

 private:
  uint8_t* bytes_;
  size_t size_ = 0, capacity_;
};

// Where the password comes from: fd >= 0 for -pw:<fd>, else the environment or the console.
// `twice`: a new archive's password is asked twice on the console. False with a one-line reason.
bool read_password(int fd, bool twice, Secret& out, std::string& problem);

// Starts libsodium once; false when it cannot (no random source).
bool sodium_ready();
