// Reading an archive, the plan: which members a run reads, where they go and under which names,
// and which worker decodes which blocks.
#include <algorithm>
#include <unordered_map>

#include "format/archive_format.h"
#include "extract_stages.h"
#include "format/utf8_text.h"

namespace extraction {
namespace {

// The destination as typed, without trailing separators ("C:\out\" -> "C:\out").
std::string destination_root(const std::string& destination) {
  std::string root = destination.empty() ? current_directory() : destination;
  while (root.size() > 1 && (root.back() == '/' || root.back() == '\\') &&
         !(root.size() == 3 && root[1] == ':'))
    root.pop_back();
  return root;
}

bool make_destination(const std::string& root) {
  for (size_t i = 1; i <= root.size(); ++i) {
    if (i == root.size() || root[i] == '/' || root[i] == '\\') {
      std::string prefix = root.substr(0, i);
      if (prefix.empty() || (prefix.size() == 2 && prefix[1] == ':')) continue;
      make_directory(prefix);
    }
  }
  FileInfo info = source_info(root);
  return info.exists && info.is_directory;
}

// The path with one kind of separator, letters folded as the file system folds them: equal keys
// name one file where case is ignored.
std::string case_key(const std::string& path) {
  std::string key = path;
  for (char& c : key)
    if (c == '\\') c = '/';
  return name_case_key(key);
}

// "stem (n).ext" in the member's own folder.
std::string numbered_name(const std::string& name, int n) {
  size_t dot = name.rfind('.');
  if (dot == 0 || dot == std::string::npos) dot = name.size();
  return name.substr(0, dot) + " (" + std::to_string(n) + ")" + name.substr(dot);
}

// Where names differing only in letter case are one file, a later member would silently
// replace an earlier one: it gets the first numbered name free among the members and in the
// destination `root` (a user's "x (2).txt" is not replaced). `renamed[i]` is the new name of
// entry i (empty when it keeps its own) and `clash[i]` the entry it clashed with.
void plan_case_renames(const std::vector<Entry>& entries, const ReadJob& job, const std::string& root,
                       std::vector<std::string>& renamed, std::vector<size_t>& clash) {
  renamed.assign(entries.size(), std::string());
  clash.assign(entries.size(), 0);
  // Every member's own name is reserved first, so a member really called "a (2).h" keeps it.
  std::unordered_map<std::string, size_t> taken;
  for (size_t i = 0; i < entries.size(); ++i)
    if (wanted_by(job, entries[i].header, i)) taken.emplace(case_key(entries[i].header.path()), i);
  for (size_t i = 0; i < entries.size(); ++i) {
    const EntryHeader& h = entries[i].header;
    if (!wanted_by(job, h, i)) continue;
    size_t owner = taken[case_key(h.path())];
    if (owner == i || entries[owner].header.path() == h.path()) continue;
    for (int n = 2;; ++n) {
      std::string candidate = numbered_name(h.name, n);
      std::string on_disk = root + native_separator() + h.folder + candidate;
      for (char& c : on_disk)
        if (c == '/' || c == '\\') c = native_separator();
      if (!taken.count(case_key(h.folder + candidate)) && !file_info(on_disk).exists) {
        taken.emplace(case_key(h.folder + candidate), i);
        renamed[i] = candidate;
        clash[i] = owner;
        break;
      }
    }
  }
}

// With threads writing side by side, members whose target a later member takes are only
// checked, so the later one wins as it would on a single thread.
std::vector<char> plan_superseded(const std::vector<Entry>& entries, const ReadJob& job,
                                  const std::vector<std::string>& renamed) {
  std::vector<char> superseded(entries.size(), 0);
  std::unordered_map<std::string, size_t> last;
  for (size_t i = 0; i < entries.size(); ++i) {
    const EntryHeader& h = entries[i].header;
    if (!wanted_by(job, h, i)) continue;
    std::string target = h.folder + (renamed[i].empty() ? h.name : renamed[i]);
    auto placed = last.emplace(names_ignore_case() ? case_key(target) : target, i);
    if (!placed.second) {
      superseded[placed.first->second] = 1;
      placed.first->second = i;
    }
  }
  return superseded;
}

}  // namespace

bool wanted_by(const ReadJob& job, const EntryHeader& h, size_t index) {
  return (!job.marked_only || h.mark == 1) && (!job.select || job.select(h)) &&
         (!job.file_name || !job.file_name(index).empty());
}

void data_outputs(const Shared& shared, size_t index, std::vector<size_t>& out) {
  out.clear();
  if (wanted_by(shared.job, shared.entries[index].header, index)) out.push_back(index);
  if (shared.copies.empty()) return;
  for (size_t copy : shared.copies[index])
    if (wanted_by(shared.job, shared.entries[copy].header, copy)) out.push_back(copy);
}

bool plan_extraction(Shared& shared, MemberWriters* writers, std::string& problem) {
  const ReadJob& job = shared.job;
  const std::vector<Entry>& entries = shared.entries;
  shared.renamed.resize(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].source == Entry::NO_SOURCE) continue;
    if (shared.copies.empty()) shared.copies.resize(entries.size());
    shared.copies[entries[i].source].push_back(i);
  }
  int64_t wanted_bytes = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    shared.progress_total += static_cast<int64_t>(entries[i].header.compressed_size);
    if (wanted_by(job, entries[i].header, i)) wanted_bytes += entries[i].header.size;
  }
  if (job.control) job.control->total.store(wanted_bytes);
  if (job.mode != ReadMode::EXTRACT) return true;
  std::string root = destination_root(job.destination);
  if (!make_destination(root) || !shared.root.open_root(root)) {
    problem = "cannot create the destination folder " + root;
    return false;
  }
  // Files from a downloaded archive are downloaded files: Windows warns before running them.
  if (!job.file_name) shared.zone_mark = read_zone_mark(job.archive_path);
  if (names_ignore_case() && !job.file_name) plan_case_renames(entries, job, root, shared.renamed, shared.clash);
  if (writers) {
    shared.writers = writers;
    shared.writer_results.resize(static_cast<size_t>(writers->count()));
    shared.superseded = job.file_name ? std::vector<char>(entries.size(), 0) : plan_superseded(entries, job, shared.renamed);
  }
  return true;
}

std::vector<size_t> split_blocks(const std::vector<Entry>& entries, const std::vector<Block>& blocks, int parts) {
  std::vector<uint64_t> weight(blocks.size());
  uint64_t total = 0;
  for (size_t b = 0; b < blocks.size(); ++b) {
    for (size_t i = blocks[b].first; i < blocks[b].first + blocks[b].count; ++i)
      weight[b] += entries[i].header.compressed_size + 4096;  // a file costs more than its bytes
    total += weight[b];
  }
  std::vector<size_t> starts{0};
  uint64_t running = 0;
  for (size_t b = 0; b < blocks.size() && starts.size() < static_cast<size_t>(parts); ++b) {
    running += weight[b];
    if (running * static_cast<uint64_t>(parts) >= total * starts.size()) starts.push_back(b + 1);
  }
  while (starts.size() <= static_cast<size_t>(parts)) starts.push_back(blocks.size());
  starts.back() = blocks.size();
  return starts;
}

}  // namespace extraction
