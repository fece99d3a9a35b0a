#include <windows.h>

#include <cstring>

#include "operations/job_join.h"

namespace {

constexpr DWORD QUIET_MS = 1000;   // Explorer starts the instances of one choice within this
// An instance this late after its group began running was still started for the same choice:
// slow to start, not chosen apart.
constexpr DWORD LATE_MS = 5000;
constexpr DWORD BLOCK_SIZE = 1 << 20;
constexpr uint32_t MAGIC = 0x4A6E7456;
enum : uint32_t { IDLE = 0, COLLECTING = 1, RUNNING = 2 };

struct JoinBlock {
  uint32_t magic, state, owner, sequence, count, used, running_since;
  char folder[4096];   // the group's folder, to tell two folders of one hash apart
  char archive[4096];  // what the running group writes, for its late instances
};
constexpr size_t AREA = BLOCK_SIZE - sizeof(JoinBlock);  // the items, each a 32-bit length and bytes

HANDLE gate = nullptr, mapping = nullptr;
JoinBlock* block = nullptr;

char* area() { return reinterpret_cast<char*>(block + 1); }

bool lock() {
  DWORD r = WaitForSingleObject(gate, 30000);
  return r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;  // a holder that died left the block as it was
}
void unlock() { ReleaseMutex(gate); }

HANDLE open_alive(uint32_t pid) {
  if (pid == 0 || pid == GetCurrentProcessId()) return nullptr;
  HANDLE p = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (p && WaitForSingleObject(p, 0) == WAIT_TIMEOUT) return p;
  if (p) CloseHandle(p);
  return nullptr;
}

bool same_folder(const std::string& folder) {
  return std::strncmp(block->folder, folder.c_str(), sizeof(block->folder) - 1) == 0;
}

void append(const std::string& item) {
  uint32_t n = static_cast<uint32_t>(item.size());
  std::memcpy(area() + block->used, &n, 4);
  std::memcpy(area() + block->used + 4, item.data(), n);
  block->used += 4 + n;
  ++block->count;
  ++block->sequence;
}

// Another process wrote the block: its counts are not trusted beyond the area.
void take_items(std::vector<std::string>& items) {
  uint64_t used = block->used < AREA ? block->used : AREA;
  for (uint64_t at = 0, k = 0; k < block->count && at + 4 <= used; ++k) {
    uint32_t n;
    std::memcpy(&n, area() + at, 4);
    if (at + 4 + n > used) break;
    items.emplace_back(area() + at + 4, n);
    at += 4 + n;
  }
}

int exit_code_of(HANDLE process) {
  WaitForSingleObject(process, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return code == 0 || code == 3 ? static_cast<int>(code) : 1;
}

bool open_block(JobVerb verb, const std::string& folder) {
  std::string key = "Local\\" + job_join_key(verb, folder);
  gate = CreateMutexA(nullptr, FALSE, (key + "-gate").c_str());
  mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, BLOCK_SIZE, (key + "-items").c_str());
  if (gate && mapping) block = static_cast<JoinBlock*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, BLOCK_SIZE));
  return block != nullptr;
}

// The owner's wait: until the previous group's owner is gone and no item came for a while.
// `late_for` gets the archive the previous group wrote, published before its run began. The
// previous group's exit code is returned (0 without one).
int collect(HANDLE previous, std::vector<std::string>& items, std::string* late_for) {
  int previous_code = previous ? exit_code_of(previous) : 0;
  if (late_for && lock()) {
    late_for->assign(block->archive, strnlen(block->archive, sizeof(block->archive)));
    unlock();
  }
  uint32_t seen = static_cast<uint32_t>(-1);
  DWORD changed = GetTickCount();
  for (;;) {
    Sleep(100);
    if (!lock()) continue;
    if (block->sequence != seen) {
      seen = block->sequence;
      changed = GetTickCount();
    } else if (GetTickCount() - changed >= QUIET_MS) {
      take_items(items);
      block->state = RUNNING;
      block->running_since = GetTickCount();
      block->archive[0] = 0;
      unlock();
      return previous_code;
    }
    unlock();
  }
}

}  // namespace

bool join_instances(JobVerb verb, const std::string& folder, std::vector<std::string>& items, int& exit_code,
                    std::string& late_for) {
  late_for.clear();
  // Without the shared block each instance runs alone: still right, only not joined.
  if (!open_block(verb, folder)) return true;
  size_t needed = 0;
  for (const std::string& item : items) needed += 4 + item.size();
  for (;;) {
    if (!lock()) return true;
    HANDLE owner = block->magic == MAGIC ? open_alive(block->owner) : nullptr;
    if (owner && block->state == COLLECTING) {
      if (same_folder(folder) && block->used + needed <= AREA) {
        for (const std::string& item : items) append(item);
        unlock();
        exit_code = exit_code_of(owner);
        return false;
      }
      // Another folder of the same key, or a full block: its group goes first.
      unlock();
      WaitForSingleObject(owner, INFINITE);
      CloseHandle(owner);
      continue;
    }
    if (owner && block->state != RUNNING) {
      CloseHandle(owner);
      owner = nullptr;
    }
    bool late = owner && same_folder(folder) && GetTickCount() - block->running_since < LATE_MS;
    // The running group ends before this one runs; a dead owner is simply replaced.
    block->magic = MAGIC;
    block->state = COLLECTING;
    block->owner = GetCurrentProcessId();
    block->count = block->used = 0;
    std::memset(block->folder, 0, sizeof(block->folder));
    std::strncpy(block->folder, folder.c_str(), sizeof(block->folder) - 1);
    unlock();
    int previous_code = collect(owner, items, late ? &late_for : nullptr);
    // The user cancelled the choice this instance was late for: so is its part.
    if (late && previous_code == JOB_CANCELLED) {
      exit_code = JOB_CANCELLED;
      leave_join();
      return false;
    }
    return true;
  }
}

void publish_join_archive(const std::string& archive) {
  if (!block || archive.size() >= sizeof(block->archive) || !lock()) return;
  // Even when a late instance has taken the block meanwhile: it reads this once we have ended.
  std::memset(block->archive, 0, sizeof(block->archive));
  std::memcpy(block->archive, archive.data(), archive.size());
  unlock();
}

void leave_join() {
  if (!block || !lock()) return;
  if (block->owner == GetCurrentProcessId()) block->state = IDLE;
  unlock();
}
