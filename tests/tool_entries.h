// Hand-made archive entries, a direct extraction and listing, for the archiver's tests on both
// sides.
#pragma once
#include <zlib.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine.h"
#include "file_io.h"
#include "format/archive_format.h"

// One stored entry built by hand, as a hostile archive would carry it.
inline std::string stored_entry(const std::string& folder, const std::string& name,
                                const std::string& data, uint8_t mark = 0) {
  EntryHeader h;
  h.folder = folder;
  h.name = name;
  h.size = static_cast<int64_t>(data.size());
  h.mark = mark;
  h.method = METHOD_STORE;
  h.compressed_size = data.size();
  h.crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()),
                                      static_cast<uInt>(data.size())));
  h.entry_length = header_size(name.size(), folder.size()) + static_cast<int64_t>(data.size());
  std::vector<uint8_t> bytes = encode_header(h);
  return std::string(bytes.begin(), bytes.end()) + data;
}

// Extracts on the calling thread alone, so `after` runs between members in order.
inline RunResult extract_into(const std::string& archive, const std::string& dest,
                              std::function<void(const EntryHeader&)> after = nullptr) {
  ReadJob job;
  job.archive_path = archive;
  job.destination = dest;
  job.after_member = std::move(after);
  return read_archive_with(job, nullptr);
}

// Members sharing one deflate stream, as a solid archive holds them (the first entry counts the
// whole stream).
inline std::string solid_entries(const std::vector<std::pair<std::string, std::string>>& members) {
  std::string all, archive;
  for (const auto& m : members) all += m.second;
  std::vector<Bytef> packed(compressBound(static_cast<uLong>(all.size())));
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  z.next_in = reinterpret_cast<Bytef*>(all.data());
  z.avail_in = static_cast<uInt>(all.size());
  z.next_out = packed.data();
  z.avail_out = static_cast<uInt>(packed.size());
  deflate(&z, Z_FINISH);
  deflateEnd(&z);
  for (size_t i = 0; i < members.size(); ++i) {
    EntryHeader h;
    h.name = members[i].first;
    h.size = static_cast<int64_t>(members[i].second.size());
    h.flags = i > 0 ? ENTRY_FLAG_SOLID_NEXT : 0;
    h.compressed_size = i == 0 ? z.total_out : 0;
    h.crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(members[i].second.data()), static_cast<uInt>(h.size)));
    h.entry_length = header_size(h.name.size(), 0) + static_cast<int64_t>(h.compressed_size);
    std::vector<uint8_t> bytes = encode_header(h);
    archive.append(bytes.begin(), bytes.end()).append(reinterpret_cast<char*>(packed.data()), h.compressed_size);
  }
  return archive;
}

// The recorded size of the archive's first entry set to `size` (the field after name and folder).
inline std::string with_recorded_size(std::string archive, int64_t size) {
  size_t n = static_cast<uint8_t>(archive[10]) | static_cast<uint8_t>(archive[11]) << 8;
  size_t m = static_cast<uint8_t>(archive[12 + n]) | static_cast<uint8_t>(archive[13 + n]) << 8;
  for (int i = 0; i < 8; ++i) archive[14 + n + m + i] = static_cast<char>(static_cast<uint64_t>(size) >> (8 * i));
  return archive;
}

// Bytes that do not compress.
inline std::string noise(size_t size) {
  std::string s(size, '\0');
  uint32_t x = 12345;
  for (char& c : s) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
  return s;
}

// Every member's path and decoded bytes, in index order, read without writing a file.
inline std::vector<std::pair<std::string, std::string>> member_contents(const std::string& archive) {
  std::vector<std::pair<std::string, std::string>> members(1);
  ReadJob job;
  job.mode = ReadMode::TEST;
  job.archive_path = archive;
  job.on_data = [&](const uint8_t* data, size_t size) { members.back().second.append(reinterpret_cast<const char*>(data), size); };
  job.after_member = [&](const EntryHeader& h) {
    members.back().first = h.path();
    members.emplace_back();
  };
  read_archive_with(job, nullptr);
  members.pop_back();
  return members;
}

// The paths an archive lists, in its order; empty when it cannot be read.
inline std::vector<std::string> member_paths(const std::string& archive) {
  std::vector<std::string> paths;
  ReadJob job;
  job.mode = ReadMode::LIST;
  job.archive_path = archive;
  job.on_entry = [&paths](const EntryHeader& h) { paths.push_back(h.path()); };
  return read_archive_with(job, nullptr).ok ? paths : std::vector<std::string>();
}

inline std::vector<std::string> sorted_names_in(std::string folder) {
  std::vector<std::string> names;
  if (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  list_directory(folder, names);
  std::sort(names.begin(), names.end());
  return names;
}
