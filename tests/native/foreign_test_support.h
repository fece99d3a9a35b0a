// Helpers for the foreign-archive suites: peer tools run in a folder, the machine listing read
// back, a folder's whole contents for comparisons, and the sample archives of the decoding
// library's source (uuencoded there).
#pragma once
#include <filesystem>
#include <map>
#include <sstream>

#include "tool_test_support.h"

inline std::string shell_quoted(const std::string& text) {
  std::string q = "'";
  for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline bool have_tool(const std::string& name) {
  return std::system(("command -v " + shell_quoted(name) + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command in `folder` with TZ=UTC; what it printed is left in `output`.
inline int run_in(const std::string& folder, const std::string& command, std::string* output = nullptr) {
  ScratchFolder logs;
  std::string line = "cd " + shell_quoted(folder) + " && export TZ=UTC && { " + command + " ; } >" + shell_quoted(logs / "log") + " 2>&1";
  int status = std::system(line.c_str());
  if (output) *output = read_file(logs / "log");
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct ListedEntry {
  char kind = '?';
  long long size = 0, packed = 0, mtime_ns = 0;
  std::string flags;
};

struct Listing {
  std::string format;
  std::map<std::string, ListedEntry> entries;  // by path, a folder's trailing '/' dropped
  std::string error;                           // empty when the listing was whole and well formed
};

// Reads `vantor l -p` output: header, one TAB-separated line per entry, "end<TAB>count".
inline Listing parse_listing(const std::string& text) {
  Listing listing;
  std::istringstream in(text);
  std::string line;
  std::vector<std::string> lines;
  while (std::getline(in, line)) lines.push_back(line);
  auto fields = [](const std::string& l) {
    std::vector<std::string> f;
    size_t start = 0;
    for (size_t tab; (tab = l.find('\t', start)) != std::string::npos; start = tab + 1) f.push_back(l.substr(start, tab - start));
    f.push_back(l.substr(start));
    return f;
  };
  if (lines.size() < 2 || fields(lines[0]).size() != 3 || fields(lines[0])[0] != "vantor-listing" || fields(lines[0])[1] != "1") {
    listing.error = "no listing header in: " + text.substr(0, 200);
    return listing;
  }
  listing.format = fields(lines[0])[2];
  std::vector<std::string> last = fields(lines.back());
  if (last.size() != 2 || last[0] != "end" || last[1] != std::to_string(lines.size() - 2)) {
    listing.error = "last line is not end<TAB>" + std::to_string(lines.size() - 2) + ": " + lines.back();
    return listing;
  }
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    std::vector<std::string> f = fields(lines[i]);
    if (f.size() != 7 || f[0].size() != 1 || std::string("fdlo").find(f[0][0]) == std::string::npos || (f[5] != "e" && f[5] != "-")) {
      listing.error = "bad entry line: " + lines[i];
      return listing;
    }
    std::string path;
    for (size_t k = 0; k < f[6].size(); ++k) {
      if (f[6].compare(k, 2, "\\x") == 0 && k + 3 < f[6].size() && isxdigit(static_cast<unsigned char>(f[6][k + 2])) &&
          isxdigit(static_cast<unsigned char>(f[6][k + 3]))) {
        path += static_cast<char>(std::stoi(f[6].substr(k + 2, 2), nullptr, 16));
        k += 3;
      } else if (f[6][k] == '\\' || static_cast<unsigned char>(f[6][k]) < 0x20 || f[6][k] == 0x7f) {
        listing.error = "unescaped byte in: " + lines[i];
        return listing;
      } else {
        path += f[6][k];
      }
    }
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    ListedEntry e;
    e.kind = f[0][0];
    e.size = std::stoll(f[1]);
    e.packed = std::stoll(f[2]);
    e.mtime_ns = std::stoll(f[3]);
    e.flags = f[5];
    listing.entries[path] = e;
  }
  return listing;
}

// Everything below `root` by relative path: "folder", "file <size> <crc32>", "link -> <target>"
// or "other"; links are never followed.
inline std::map<std::string, std::string> folder_contents(const std::string& root) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> found;
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(root, ec))) return found;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::string relative = fs::relative(it->path(), root).string();
    fs::file_status st = it->symlink_status();
    if (fs::is_symlink(st)) {
      found[relative] = "link -> " + fs::read_symlink(it->path()).string();
    } else if (fs::is_directory(st)) {
      found[relative] = "folder";
    } else if (fs::is_regular_file(st)) {
      std::string bytes = read_file(it->path().string());
      uLong crc = crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
      found[relative] = "file " + std::to_string(bytes.size()) + " " + std::to_string(crc);
    } else {
      found[relative] = "other";
    }
  }
  return found;
}

inline std::string describe_file(const std::string& bytes) {
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
  return "file " + std::to_string(bytes.size()) + " " + std::to_string(crc);
}

// The unpacked source of the decoding library, whose tests keep sample archives; empty if absent
// or if python3, which decodes them, is missing.
inline std::string library_source() {
  if (!have_tool("python3")) return "";
#ifdef VANTOR_LIBARCHIVE_SOURCE
  if (exists(VANTOR_LIBARCHIVE_SOURCE "/libarchive/test")) return VANTOR_LIBARCHIVE_SOURCE;
#endif
  if (const char* env = std::getenv("VANTOR_LIBARCHIVE_SOURCE"))
    if (exists(std::string(env) + "/libarchive/test")) return env;
  namespace fs = std::filesystem;
  std::error_code ec;
  std::string newest;
  for (const auto& e : fs::directory_iterator("/opt/vantor-deps/src", ec))
    if (e.path().filename().string().rfind("libarchive-", 0) == 0 && exists(e.path().string() + "/libarchive/test"))
      newest = std::max(newest, e.path().string());
  return newest;
}

// Decodes the samples whose names start with `stem` (all parts of a multi-volume set) into
// `folder`, each under its own name less ".uu"; returns how many were written. Leniently: some
// samples' lines carry stray bits past their length.
inline int decode_samples(const std::string& stem, const std::string& folder) {
  std::string tests = library_source() + "/libarchive/test";
  std::string out;
  run_in(folder,
         "python3 -c 'import glob,os,sys\n"
         "def line(l):\n"
         "  out=bytearray()\n"
         "  for i in range(1,len(l),4):\n"
         "    c=[(x-32)&63 for x in l[i:i+4].ljust(4,b\" \")]\n"
         "    out+=bytes([(c[0]<<2|c[1]>>4)&255,(c[1]<<4|c[2]>>2)&255,(c[2]<<6|c[3])&255])\n"
         "  return bytes(out[:(l[0]-32)&63])\n"
         "n=0\n"
         "for p in sorted(glob.glob(glob.escape(sys.argv[1])+\"/\"+glob.escape(sys.argv[2])+\"*.uu\")):\n"
         "  data=b\"\"; inside=False\n"
         "  for l in open(p,\"rb\").read().splitlines():\n"
         "    if l.startswith(b\"begin \"): inside=True\n"
         "    elif l.strip()==b\"end\": break\n"
         "    elif inside and l: data+=line(l)\n"
         "  open(os.path.basename(p)[:-3],\"wb\").write(data); n+=1\n"
         "print(n)' " + shell_quoted(tests) + " " + shell_quoted(stem),
         &out);
  return std::atoi(out.c_str());
}
