// Hand-made archive entries, a direct extraction and listing, for the archiver's tests on both
// sides.
#pragma once
#include <zlib.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "archive_format.h"
#include "engine.h"
#include "file_io.h"

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
