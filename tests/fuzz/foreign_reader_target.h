// One fuzz input through the walk over other programs' archives (foreign_reader.h), the very
// adapter the archiver uses, from memory: listing and decoding every member. Shared by the
// libFuzzer harness and the native corpus replay.
#pragma once
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>

#include "foreign_reader.h"

// Checks the order of the visitor's calls and counts what it is handed.
class ForeignFuzzVisitor : public ForeignVisitor {
 public:
  bool held = true;
  bool in_member = false;
  int64_t bytes = 0;
  void opened(const std::string& format) override { held = held && !format.empty() && opens_++ == 0; }
  bool entry(const MemberInfo& m) override {
    held = held && !in_member && opens_ == 1 && (m.kind == 'f' || m.kind == 'd' || m.kind == 'l' || m.kind == 'o');
    // The listing's path is one line of printable text whatever the name holds.
    for (char c : listing_path(m.path)) held = held && static_cast<unsigned char>(c) >= 0x20 && c != 0x7f;
    in_member = true;
    return true;
  }
  bool data(const uint8_t* p, size_t n) override {
    held = held && in_member && p && n > 0;
    bytes += static_cast<int64_t>(n);
    return true;
  }
  void entry_end(const MemberInfo&, const std::string&) override {
    held = held && in_member;
    in_member = false;
  }
  // A member whose data is not read ends at the next entry.
  void next() { in_member = false; }

 private:
  int opens_ = 0;
};

// True when every invariant held: a walk nothing recognised says why, and one that ended early
// (not stopped by us) says why too.
inline bool foreign_reader_fuzz_one(const uint8_t* data, size_t size) {
  ForeignSource source;
  source.data = data;
  source.size = size;
  source.name = "fuzz.gz";
  // A 32-bit process's cap, well below the fuzzer's own limit on one allocation.
  source.memory_cap = 256 << 20;
  struct Visitor : ForeignFuzzVisitor {
    bool entry(const MemberInfo& m) override {
      next();
      return ForeignFuzzVisitor::entry(m);
    }
  } visitor;
  // An allocation refused before leaves errno at ENOMEM, where libarchive's name getters would
  // end the process on any conversion that fails.
  errno = ENOMEM;
  ForeignWalk walk = walk_foreign(source, visitor);
  if (!walk.recognised && walk.problem.empty()) return false;
  if (walk.stopped) return false;
  return visitor.held;
}
