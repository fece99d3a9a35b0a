#include "options.h"

#include <algorithm>
#include <cstdlib>

std::vector<std::string> split_parameters(const std::string& text) {
  std::vector<std::string> args;
  std::string current;
  bool in_argument = false;
  bool quoted = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
      in_argument = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (in_argument) args.push_back(current);
      current.clear();
      in_argument = false;
    } else {
      current += c;
      in_argument = true;
    }
  }
  if (in_argument) args.push_back(current);
  return args;
}

std::string parameters_after_program(const std::string& command_line) {
  size_t i = 0;
  if (!command_line.empty() && command_line[0] == '"') {
    size_t close = command_line.find('"', 1);
    i = close == std::string::npos ? command_line.size() : close + 1;
  }
  while (i < command_line.size() && command_line[i] != ' ' && command_line[i] != '\t') ++i;
  return i < command_line.size() ? command_line.substr(i) : std::string();
}

namespace {

bool parse_number(const std::string& text, int low, int high, int& out) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  int value = std::atoi(text.c_str());
  if (value < low || value > high) return false;
  out = value;
  return true;
}

bool parse_switch(const std::string& arg, Options& o, std::string& problem) {
  std::string rest = arg.substr(2);
  if (arg == "-he") return o.hide_names = true;
  if (arg.compare(0, 3, "-pw") == 0) {
    o.password = true;
    if (arg.size() == 3) return true;
    return arg[3] == ':' && parse_number(arg.substr(4), 0, 999999999, o.password_fd);
  }
  switch (arg[1]) {
    case 'y': return rest.empty();
    case 'p': o.machine_listing = true; return rest.empty();
    case 'e': o.self_extracting = o.marked_only = true; return rest.empty();
    case 'r': o.keep_folders = true; return rest.empty();
    case 'w': o.names_below = rest; return !rest.empty();
    case 's': o.solid = true; return rest.empty();
    case 'b': return parse_number(rest, 1, 4096, o.buffer_mb);
    case 'k': o.window_given = true; return parse_number(rest, 0, 7, o.window_position);
    case 't': return parse_number(rest, 0, 64, o.threads);
    case 'm':
      if (!rest.empty() && rest[0] == 'x') {
        o.ultra = true;
        rest = rest.substr(1);
      }
      return parse_number(rest, 0, 3, o.method);
    default:
      problem = "unknown switch " + arg;
      return false;
  }
}

bool take_positionals(const std::vector<std::string>& pos, Options& o, std::string& problem) {
  // An empty quoted argument names no file: refused here rather than looked for.
  bool list_form = ((o.command == Command::ADD || o.command == Command::REMOVE) && pos.size() == 2 && pos[0] == "x") ||
                   (o.command == Command::EXTRACT && pos.size() == 3 && pos[0] == "x");
  const std::string* named = list_form ? &pos[1] : pos.empty() ? nullptr : &pos[0];
  if (named && named->empty()) {
    problem = "an empty file name";
    return false;
  }
  switch (o.command) {
    case Command::ADD:
      if (pos.size() == 2 && pos[0] == "x") {
        o.list_file = pos[1];
        return true;
      }
      if (pos.size() >= 2 && pos[0] != "x") {
        o.archive = pos[0];
        o.sources.assign(pos.begin() + 1, pos.end());
        return true;
      }
      problem = "a needs \"x <list file>\" or an archive and the files to add";
      return false;
    case Command::REMOVE:
      if (list_form) {
        o.list_file = pos[1];
        return true;
      }
      if (pos.size() >= 2) {
        o.archive = pos[0];
        o.sources.assign(pos.begin() + 1, pos.end());
        // An empty member path would name nothing.
        if (std::find(o.sources.begin(), o.sources.end(), std::string()) == o.sources.end()) return true;
        problem = "an empty member path";
        return false;
      }
      problem = "d needs \"x <list file>\" or an archive and the members or folders to remove";
      return false;
    case Command::EXTRACT:
      // x x <list file> <folder>: three names, so an archive called "x" still extracts as before.
      if (list_form) {
        o.list_file = pos[1];
        o.destination = pos[2];
        return true;
      }
      if (pos.size() == 1 || pos.size() == 2) {
        o.archive = pos[0];
        o.destination = pos.size() == 2 ? pos[1] : std::string();
        return true;
      }
      problem = "x needs an archive and at most one destination folder";
      return false;
    default:
      if (pos.size() == 1) {
        o.archive = pos[0];
        return true;
      }
      problem = "this command needs exactly one archive";
      return false;
  }
}

}  // namespace

bool parse_options(const std::vector<std::string>& args, Options& out, std::string& problem) {
  Options o;
  std::vector<std::string> positionals;
  for (const std::string& arg : args) {
    if (o.command == Command::NONE) {
      if (arg == "a") o.command = Command::ADD;
      else if (arg == "x") o.command = Command::EXTRACT;
      else if (arg == "l") o.command = Command::LIST;
      else if (arg == "t") o.command = Command::TEST;
      else if (arg == "d") o.command = Command::REMOVE;
      else {
        problem = "unknown command \"" + arg + "\" (expected a, d, x, l or t)";
        return false;
      }
      continue;
    }
    if (arg.size() >= 2 && arg[0] == '-') {
      std::string why;
      if (!parse_switch(arg, o, why)) {
        problem = why.empty() ? "bad value in switch " + arg : why;
        return false;
      }
      continue;
    }
    positionals.push_back(arg);
  }
  if (o.command == Command::NONE) {
    problem = "no command given";
    return false;
  }
  if (!take_positionals(positionals, o, problem)) return false;
  if (o.command != Command::ADD) o.self_extracting = false;
  if (o.command != Command::EXTRACT) o.marked_only = false;
  if (!o.names_below.empty() && o.command != Command::ADD) {
    problem = "-w is a switch of a alone";
    return false;
  }
  if (o.hide_names && o.command != Command::ADD) {
    problem = "-he is a switch of a alone";
    return false;
  }
  if (o.hide_names && !o.password) {
    problem = "-he needs -pw: names are sealed with the password";
    return false;
  }
  if (o.machine_listing && o.command != Command::LIST) {
    problem = "-p is a switch of l alone";
    return false;
  }
  out = o;
  return true;
}

// The help text is data; usage_text only hands it out.
static const char* const USAGE =
      "vantor - archiver of Vantor Archiver\n"
      "\n"
      "usage:\n"
      "  vantor a [switches] x <list file>          add the files named in a list file\n"
      "  vantor a [switches] <archive> <path>...    add files and folders (folders whole)\n"
      "  vantor d [switches] <archive> <path>...    remove members, and folders with all below\n"
      "  vantor d [switches] x <list file>          remove the members named in a list file\n"
      "  vantor x [-e] [-t<n>] <archive> [<folder>] extract into a folder (default: here)\n"
      "  vantor x x <list file> <folder>            extract the members and folders a list file names\n"
      "  vantor l <archive>                         list the members and their methods; a copy\n"
      "                                             shows \"copy\" and \"= <member it names>\"\n"
      "  vantor l -p <archive>                      the listing for programs (below)\n"
      "  vantor t <archive>                         test every member's CRC-32\n"
      "\n"
      "switches:\n"
      "  -y        answer yes to everything (vantor never asks; accepted for scripts)\n"
      "  -e        with a: write a self-extracting program; the archive gets the extension\n"
      "            .exe and is written with deflate, which its stub decodes. With x: extract\n"
      "            only the members whose mark byte is 1\n"
      "  -r        keep the folder structure below the deepest folder common to all files;\n"
      "            without it every file is stored under its name alone, and two files\n"
      "            that would get one name refuse the run (nothing is written)\n"
      "  -w<folder> with a -r: keep the folder structure below this folder instead, which\n"
      "            must hold every file (with -wC:\\x\\ the folder C:\\x\\Photos is stored\n"
      "            as Photos\\...); the front end's \"Add to\" jobs use it\n"
      "  -s        solid: members share streams (files of one filter and kind side by side),\n"
      "            so similar files compress much better; without it every member stands\n"
      "            alone and can be read on its own\n"
      "  -m<n>     method: 0 store, 1 fast, 2 normal, 3 good (default); zstd levels\n"
      "            -m1 -m2 -m3 -mx1 -mx2 -mx3: 4 5 6 9 15 19, with -s 3 12 15\n"
      "  -mx<n>    ultra: the same methods with much more effort (slower, smaller); with -s\n"
      "            LZMA2 (presets 4 5 6), two blocks per thread, programs through an x86 or\n"
      "            ARM64 branch filter and PCM sound and bitmaps through a delta filter, chosen\n"
      "            by their first bytes; files compressed already (packages, xz, JPEG...) in one\n"
      "            zstd stream; text (by its bytes) through PPMd of order 8 12 16 with a model\n"
      "            of 64 128 256 MB (no larger than -k's window), in blocks of its own\n"
      "  -k<n>     window or dictionary 0..7: 2 MB doubling up to 256 MB (7, default); never\n"
      "            wider than the data; beyond zstd's own window long-distance matching is used\n"
      "  -b<n>     memory budget in MB for buffered output while threads wait their turn\n"
      "            (default 16); more data goes to temporary files beside the archive\n"
      "  -t<n>     threads compressing or extracting in parallel (zstd's own workers for a\n"
      "            solid stream); 0 = one per processor (default 1). Settings that would not\n"
      "            fit a 32-bit process get fewer threads or a smaller window, with a note\n"
      "  -pw       the archive is (to be) encrypted with a password: read from the pipe whose\n"
      "            handle VANTOR_PASSWORD_HANDLE names when it is set, else asked on the\n"
      "            console without echo (twice for a); needed by every command on an\n"
      "            encrypted archive, and for a zip's encrypted members\n"
      "  -pw:<fd>  the same, the password read from this descriptor (handle on Windows)\n"
      "  -he       with a -pw: encrypt the names too; the index shows one entry\n"
      "            \"encrypted archive\" and l -p -pw lists the real members\n"
      "\n"
      "Archives of other programs are read too (l, t, x): zip, 7z, rar and rar5 (multi-volume\n"
      "when all parts lie beside the first), tar alone or with gzip, bzip2, xz, zstd, lz4 or\n"
      "compress, iso9660, cab, lha, cpio, ar, and single .gz .xz .zst .bz2 .lz4 .Z files (one\n"
      "member named after the file without that extension). The kind comes from the bytes:\n"
      "ours when our index walks to the file's end (from 155,648 for an .exe), else theirs.\n"
      "Their members are written as ours are; links, hard links, devices, FIFOs and sockets\n"
      "are refused by name, and so are encrypted members (\"<name> is encrypted: not supported\n"
      "yet\") while the rest is read; with -pw a zip's encrypted members are decrypted\n"
      "(traditional, and AES on Windows through the system's CNG). A member\n"
      "asking for more memory at once than a 32-bit process can give is refused with the\n"
      "amount.\n"
      "\n"
      "l -p prints UTF-8 lines of TAB-separated fields: \"vantor-listing 1 <format>\" (zip, 7z,\n"
      "rar, rar5, tar.gz, vnr...), then per entry kind (f file, d folder, l link, o other),\n"
      "size, packed size (-1 unknown), modification time in ns since 1970 (0 unknown),\n"
      "attributes in hex, e (encrypted) or -, and the path with / between parts, bytes below\n"
      "0x20, 0x7F, \\ and bytes that are not UTF-8 written \\xNN; last \"end <entries>\". A\n"
      "listing without its end line was cut short.\n"
      "x x: the list file's archive is read and its paths, as l -p prints them unescaped, choose\n"
      "the members; a folder takes everything below it; a path naming nothing is reported.\n"
      "\n"
      "list file (little-endian): count (64-bit), count (64-bit), archive path length\n"
      "(32-bit) and bytes, count (32-bit), then per file a 32-bit length and the path bytes.\n"
      "\n"
      "a adds: when the archive exists, the new one holds its members plus the files named\n"
      "(a file replaces the member with the same path); kept members are copied, not\n"
      "recompressed. An archive that cannot be read is left alone and the run refused.\n"
      "Identical files of one run are stored once: later ones become copies of the first,\n"
      "found by size and CRC-32 and confirmed byte for byte (empty files never are).\n"
      "Only regular files are read: devices, FIFOs and sockets are refused.\n"
      "\n"
      "d removes: a path is a member's stored folder and name ('/' or '\\' between them), or\n"
      "a folder, which takes every member below it; matching is exact, letter case included.\n"
      "When any path names nothing, d says which and changes nothing; a read-only archive\n"
      "is refused and left alone too. Other members are copied as they are; a solid stream\n"
      "that loses a member is compressed again with its own method and -m, -mx, -k and -t\n"
      "(defaults as a -s). A self-extracting archive keeps its program; removing every\n"
      "member leaves an empty archive. A list file names the archive and the member paths.\n"
      "\n"
      "zip: an archive path ending in .zip (any case) makes a and d write a standard zip:\n"
      "deflate at the level of -m/-mx (a file that does not shrink, and all with -m0, is\n"
      "stored), folders as members, UTF-8 names flagged as such, zip64 where needed, every\n"
      "header Windows' zip folder reads. Adding keeps an existing zip's members (a file\n"
      "replaces the member of its path); a zip that does not read or holds an encrypted\n"
      "member is refused, unchanged. -e is refused (exit 2); -s and -k are ignored with a note.\n"
      "\n"
      "encrypted archives (-pw): the key comes from the password by Argon2id (128 MB, 3\n"
      "passes; an archive asking for under 64 or over 256 MB, or passes outside 1-16, is\n"
      "refused before anything is allocated) with a random salt of the archive; every\n"
      "member's compressed data and own fields (CRC, method, times...) are sealed with\n"
      "XChaCha20-Poly1305 in 64 KB pieces, its name, folder, size and flags and its place\n"
      "authenticated, so any changed byte, cut or swap is refused by name. The index keeps\n"
      "names, folders and sizes readable (flag 8 on every entry) unless -he seals it too\n"
      "(one entry \"encrypted archive\", flags 8 and 16). Every command checks the key and\n"
      "the whole index first: a wrong password (\"wrong password for <archive>\", exit 1)\n"
      "writes nothing. l, t and x decrypt as they read, nothing plain on the disk: a\n"
      "damaged member is refused by name and nothing of it is written. a and d check every\n"
      "byte first, through a temporary working copy beside the archive, masked on the\n"
      "disk under a key the run never writes down, which they remove.\n"
      "a -pw adds to an encrypted archive with its password, and refuses a plain\n"
      "one (no archive mixes both); -e and zips are not encrypted (exit 2).\n"
      "\n"
      "When the machine stops: a new archive is flushed to the disk before it is renamed\n"
      "over the old one and the rename is flushed too, so whatever stops the run or the\n"
      "machine, the archive is the old one or the whole new one. A killed run leaves no\n"
      "archive-like file; what it left as <archive>.vantor-... the next run removes. One\n"
      "run writes an archive at a time (lock file <archive>.vantor-lock): another waits\n"
      "up to 5 seconds, then refuses with exit code 1 and changes nothing. Extraction\n"
      "flushes a file it replaces before the old one goes; new files are not flushed.\n"
      "\n"
      "Extraction refuses member names that could leave the destination folder and never\n"
      "follows links in it, not even one put in place while it runs. Where letter case does\n"
      "not tell names apart, a member that would overwrite another gets a free name such as\n"
      "\"a (2).h\", free on disk too; a name that is another file's short name (LONGFI~1.TXT)\n"
      "is refused. Files written from an archive get its Mark of the Web (its\n"
      "Zone.Identifier stream), and an archive added to keeps it.\n"
      "Names are stored as UTF-8; names in archives from before that are not UTF-8 are read\n"
      "as code page 1252. Names are printed with control characters escaped (\\x1b).\n"
      "A console shows progress (percentage and MB/s) on standard error; pipes and files do not.\n"
      "A caller can ask for live progress and a way to stop: VANTOR_PROGRESS names a pipe (a\n"
      "handle on Windows, a descriptor elsewhere) that gets \"progress <done> <total> <member>\"\n"
      "every 100 ms; VANTOR_CANCEL names an event (Windows) or a pipe whose byte or end asks\n"
      "the run to stop between blocks: it removes what it had not finished (naming a file it\n"
      "could not remove) and exits with 3.\n"
      "Only a pipe is taken, never a standard stream or a file (on Windows an event to cancel).\n"
      "Exit code: 0 on full success, 1 when anything failed (reason on stderr), 2 for a bad\n"
      "command line or a list file that is refused (count 0, bad length, NUL byte), 3 when\n"
      "cancelled.\n";

const char* usage_text() { return USAGE; }
