#include "file_mask.h"

#include <sodium.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "password.h"

namespace {

struct Registry {
  std::mutex lock;
  std::vector<std::string> folders;
  Secret key{crypto_stream_xchacha20_KEYBYTES};
  std::map<std::pair<uint64_t, uint64_t>, std::shared_ptr<FileMask>> by_identity;
};

std::atomic<int> registered_folders{0};

Registry& registry() {
  static Registry* r = new Registry;  // never destroyed: files may close during exit
  return *r;
}

bool below(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
         (path[folder.size()] == '/' || path[folder.size()] == native_separator());
}

bool masked_path(Registry& r, const std::string& path) {
  for (const std::string& folder : r.folders)
    if (below(path, folder)) return true;
  return false;
}

}  // namespace

bool mask_files_under(const std::string& folder) {
  Registry& r = registry();
  std::lock_guard<std::mutex> hold(r.lock);
  if (r.folders.empty()) {
    if (!sodium_ready()) return false;
    crypto_stream_xchacha20_keygen(r.key.data());
  }
  r.folders.push_back(folder);
  ++registered_folders;
  return true;
}

bool masking_active() { return registered_folders.load() > 0; }

void unmask_files_under(const std::string& folder) {
  Registry& r = registry();
  std::lock_guard<std::mutex> hold(r.lock);
  for (size_t i = 0; i < r.folders.size(); ++i)
    if (r.folders[i] == folder) {
      r.folders.erase(r.folders.begin() + static_cast<std::ptrdiff_t>(i));
      --registered_folders;
      break;
    }
  if (r.folders.empty()) {
    r.by_identity.clear();
    sodium_memzero(r.key.data(), r.key.size());
  }
}

std::shared_ptr<const FileMask> mask_for_new_file(const std::string& path, const FileIdentity& id, bool& refused) {
  Registry& r = registry();
  std::lock_guard<std::mutex> hold(r.lock);
  refused = false;
  if (r.folders.empty() || !masked_path(r, path)) return nullptr;
  if (!id.known) {
    refused = true;
    return nullptr;
  }
  // A fresh nonce each time: a number the system gives a new file after an old one went must not
  // bring back the old one's key stream.
  auto mask = std::make_shared<FileMask>();
  randombytes_buf(mask->nonce, sizeof mask->nonce);
  r.by_identity[{id.volume, id.number}] = mask;
  return mask;
}

std::shared_ptr<const FileMask> mask_of_file(const std::string& path, const FileIdentity& id) {
  Registry& r = registry();
  std::lock_guard<std::mutex> hold(r.lock);
  if (r.folders.empty() || !id.known || !masked_path(r, path)) return nullptr;
  auto found = r.by_identity.find({id.volume, id.number});
  return found == r.by_identity.end() ? nullptr : found->second;
}

void apply_mask(const FileMask& mask, int64_t offset, uint8_t* data, size_t size) {
  const uint8_t* key = registry().key.data();
  constexpr int64_t BLOCK = 64;
  uint64_t block = static_cast<uint64_t>(offset / BLOCK);
  size_t skip = static_cast<size_t>(offset % BLOCK);
  if (skip) {  // the rest of a block begun before
    uint8_t stream[BLOCK] = {};
    crypto_stream_xchacha20_xor_ic(stream, stream, BLOCK, mask.nonce, block, key);
    size_t n = std::min(size, static_cast<size_t>(BLOCK) - skip);
    for (size_t i = 0; i < n; ++i) data[i] ^= stream[skip + i];
    sodium_memzero(stream, sizeof stream);
    data += n;
    size -= n;
    ++block;
  }
  if (size) crypto_stream_xchacha20_xor_ic(data, data, size, mask.nonce, block, key);
}

void File::take_mask(const std::string& path, bool created) {
  mask_.reset();
  if (!masking_active() || !is_open()) return;
  FileIdentity id = handle_identity();
  if (!created) {
    mask_ = mask_of_file(path, id);
    return;
  }
  bool refused = false;
  mask_ = mask_for_new_file(path, id, refused);
  if (refused) close();  // never written plain where the run's files must be masked
}

bool File::write(const void* buffer, size_t size) { return mask_ ? write_masked(buffer, size) : write_plain(buffer, size); }

bool File::write_masked(const void* buffer, size_t size) {
  int64_t at = position();
  if (at < 0) return false;
  std::vector<uint8_t> masked(std::min<size_t>(size, 1 << 20));
  const uint8_t* p = static_cast<const uint8_t*>(buffer);
  while (size > 0) {
    size_t n = std::min(size, masked.size());
    std::copy(p, p + n, masked.begin());
    apply_mask(*mask_, at, masked.data(), n);
    if (!write_plain(masked.data(), n)) return false;
    p += n;
    at += static_cast<int64_t>(n);
    size -= n;
  }
  return true;
}
