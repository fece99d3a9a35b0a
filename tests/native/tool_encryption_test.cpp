// Encrypted archives: what goes in comes out only with the password, every byte but the marks is
// checked, and a refusal writes nothing.
#include <dirent.h>
#include <gtest/gtest.h>

#include <sodium.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include "archive/index_walk.h"
#include "encrypted_run.h"
#include "file_io.h"
#include "seal.h"
#include "sealed_layout.h"
#include "tool_test_support.h"

namespace {

std::string q(const std::string& s) { return "'" + s + "'"; }

// The archiver with the password on its standard input (-pw:0); the cheapest key derivation the
// archive format allows keeps the runs quick.
ToolRun with_password(const std::string& password, const std::string& arguments, const std::string& before = "") {
  setenv("VANTOR_ARGON2_KIB", "65536", 1);
  setenv("VANTOR_ARGON2_OPS", "1", 1);
  return run_tool(arguments, before + "printf %s " + q(password) + " | ");
}

std::vector<std::string> names_in(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::map<std::string, std::string> sample_files() {
  return {{"a.txt", sample_text(150000, 1)}, {"docs/b.bin", random_bytes(90000, 2)},
          {"docs/c.txt", sample_text(3000, 3)}, {"empty.txt", ""}};
}

// Makes dir/src and an encrypted archive of it; returns the archive's path.
std::string encrypted_archive(const ScratchFolder& dir, const std::string& switches, const std::string& password = "pw") {
  for (const auto& [path, bytes] : sample_files()) write_file(dir / ("src/" + path), bytes);
  std::string archive = dir / "e.vnr";
  ToolRun add = with_password(password, "a -r -pw:0 " + switches + " " + q(archive) + " " + q(dir / "src"));
  EXPECT_EQ(add.exit_code, 0) << add.err;
  return archive;
}

std::string list_file_bytes(const std::string& archive, const std::vector<std::string>& paths) {
  auto number = [](uint64_t v, int size) { return std::string(reinterpret_cast<const char*>(&v), size); };
  std::string s = number(paths.size(), 8) + number(paths.size(), 8) + number(archive.size(), 4) + archive;
  s += number(paths.size(), 4);
  for (const std::string& p : paths) s += number(p.size(), 4) + p;
  return s;
}

// Unseals in this process, the key of unchanged parameters remembered: a flip elsewhere needs no
// new derivation, one in the salt or the parameters gets a real one, as the archiver would.
UnsealOutcome unseal_remembering(const ScratchFolder& dir, const std::string& archive) {
  static SealKey known;
  static bool have = false;
  auto derive = [&](SealKey& key, std::string& problem) {
    bool same = have && key.ops == known.ops && key.memory_kib == known.memory_kib &&
                std::equal(key.salt, key.salt + 16, known.salt);
    key.key.resize(32);
    if (same) {
      std::copy(known.key.data(), known.key.data() + 32, key.key.data());
      return true;
    }
    if (crypto_pwhash(key.key.data(), 32, "pw", 2, key.salt, key.ops, static_cast<size_t>(key.memory_kib) << 10,
                      crypto_pwhash_ALG_ARGON2ID13) != 0) {
      problem = "no memory";
      return false;
    }
    if (!have) {
      known.ops = key.ops, known.memory_kib = key.memory_kib;
      std::copy(key.salt, key.salt + 16, known.salt);
      known.key.resize(32);
      std::copy(key.key.data(), key.key.data() + 32, known.key.data());
      have = true;
    }
    return true;
  };
  SealKey key;
  std::string problem;
  return unseal_archive_with(archive, dir / "plain.vnr", derive, key, problem);
}

// The checked layout of an archive sealed with "pw"; null when it does not open.
std::shared_ptr<SealedLayout> sealed_layout_of(const std::string& archive) {
  SealKey key;
  std::shared_ptr<SealedLayout> layout;
  std::string problem;
  auto derive = [](SealKey& k, std::string&) {
    k.key.resize(32);
    return crypto_pwhash(k.key.data(), 32, "pw", 2, k.salt, k.ops, static_cast<size_t>(k.memory_kib) << 10,
                         crypto_pwhash_ALG_ARGON2ID13) == 0;
  };
  EXPECT_EQ(open_sealed_with(archive, derive, key, layout, problem), UnsealOutcome::OK) << problem;
  return layout;
}

std::vector<int64_t> mark_offsets(const std::string& archive) {
  std::vector<int64_t> marks;
  index_walk_file(archive, [&](const IndexEntry& e) { marks.push_back(e.mark_offset); });
  return marks;
}

}  // namespace

// Plain and solid, names readable or sealed: the front end sees flagged entries (or the one
// neutral entry), and l, t, x, x x <list>, a and d work through the password.
TEST(Encryption, RoundTripsPlainAndSolidWithAndWithoutSealedNames) {
  for (std::string switches : {"", "-s", "-he", "-s -he"}) {
    SCOPED_TRACE(switches);
    ScratchFolder dir;
    std::string archive = encrypted_archive(dir, switches);
    bool sealed = switches.find("-he") != std::string::npos;
    std::vector<IndexEntry> entries;
    IndexWalkResult walk = index_walk_file(archive, [&](const IndexEntry& e) { entries.push_back(e); });
    EXPECT_TRUE(walk.sound());
    std::string bytes = read_file(archive);
    for (const IndexEntry& e : entries) {
      uint8_t flags = static_cast<uint8_t>(bytes[static_cast<size_t>(e.position + ENTRY_FLAGS_OFFSET)]);
      EXPECT_TRUE(flags & ENTRY_FLAG_ENCRYPTED) << e.name;
      EXPECT_EQ((flags & ENTRY_FLAG_SEALED_INDEX) != 0, sealed) << e.name;
      EXPECT_FALSE(e.has_mtime) << e.name;
    }
    if (sealed) {
      ASSERT_EQ(entries.size(), 1u);
      EXPECT_EQ(entries[0].name + "|" + entries[0].folder, "encrypted archive|");
      EXPECT_EQ(bytes.find("b.bin"), std::string::npos);
    } else {
      EXPECT_EQ(entries.size(), sample_files().size());
    }
    ToolRun bare = run_tool("l " + q(archive));
    EXPECT_EQ(bare.exit_code, 1);
    EXPECT_EQ(bare.err, "vantor: " + archive + " is encrypted: a password is needed\n");
    ToolRun listed = with_password("pw", "l -p -pw:0 " + q(archive));
    EXPECT_EQ(listed.exit_code, 0) << listed.err;
    EXPECT_NE(listed.out.find("\tdocs/b.bin\n"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("end\t4\n"), std::string::npos) << listed.out;
    EXPECT_EQ(with_password("pw", "t -pw:0 " + q(archive)).exit_code, 0);
    ToolRun x = with_password("pw", "x -pw:0 " + q(archive) + " " + q(dir / "out"));
    ASSERT_EQ(x.exit_code, 0) << x.err;
    for (const auto& [path, content] : sample_files()) EXPECT_EQ(read_file(dir / ("out/" + path)), content) << path;
    // The front end's way: chosen members by list file.
    write_file(dir / "list", list_file_bytes(archive, {"docs/c.txt"}));
    ToolRun chosen = with_password("pw", "x -pw:0 x " + q(dir / "list") + " " + q(dir / "chosen"));
    EXPECT_EQ(chosen.exit_code, 0) << chosen.err;
    EXPECT_EQ(names_in(dir / "chosen"), std::vector<std::string>{"docs"});
    // Adding with the same password keeps the archive encrypted; removing too.
    write_file(dir / "new.txt", "new");
    EXPECT_EQ(with_password("pw", "a -pw:0 " + q(archive) + " " + q(dir / "new.txt")).exit_code, 0);
    EXPECT_EQ(with_password("pw", "d -pw:0 " + q(archive) + " a.txt").exit_code, 0);
    ToolRun after = with_password("pw", "x -pw:0 " + q(archive) + " " + q(dir / "after"));
    EXPECT_EQ(after.exit_code, 0) << after.err;
    EXPECT_EQ(names_in(dir / "after"), (std::vector<std::string>{"docs", "empty.txt", "new.txt"}));
    EXPECT_EQ(read_file(dir / "after/docs/b.bin"), random_bytes(90000, 2));
    EXPECT_EQ(archive_is_encrypted(archive), true);
    EXPECT_EQ(names_in(dir.path), (std::vector<std::string>{"after", "chosen", "e.vnr", "list", "new.txt", "out", "src"}));
  }
}

// Adding the archive's own folder leaves out the archive, its lock and its plain working copy, as
// for a plain archive.
TEST(Encryption, AddingTheArchivesOwnFolderLeavesOutTheArchiveAndItsWorkingCopy) {
  ScratchFolder dir;
  write_file(dir / "work/a.txt", "hello");
  std::string archive = dir / "work/e.vnr";
  for (int round = 0; round < 2; ++round)
    ASSERT_EQ(with_password("pw", "a -r -pw:0 " + q(archive) + " " + q(dir / "work")).exit_code, 0);
  ToolRun listed = with_password("pw", "l -p -pw:0 " + q(archive));
  EXPECT_NE(listed.out.find("\ta.txt\nend\t1\n"), std::string::npos) << listed.out;
}

// A wrong password says so and writes nothing: no destination, no temporary, the archive as it was.
TEST(Encryption, WrongPasswordWritesNothing) {
  ScratchFolder dir;
  std::string archive = encrypted_archive(dir, "-s");
  std::string before = read_file(archive);
  for (std::string command : {"x -pw:0 " + q(archive) + " " + q(dir / "out"), "t -pw:0 " + q(archive),
                              "l -p -pw:0 " + q(archive), "a -pw:0 " + q(archive) + " " + q(dir / "src/a.txt"),
                              "d -pw:0 " + q(archive) + " a.txt"}) {
    ToolRun run = with_password("wrong", command);
    EXPECT_EQ(run.exit_code, 1) << command;
    EXPECT_EQ(run.err, "vantor: wrong password for " + archive + "\n") << command;
    EXPECT_EQ(run.out.find("docs"), std::string::npos) << command;
  }
  EXPECT_EQ(read_file(archive), before);
  EXPECT_EQ(names_in(dir.path), (std::vector<std::string>{"e.vnr", "src"}));
  // Plain and encrypted members never mix, and the password comes only from a pipe.
  ToolRun plain = run_tool("a " + q(dir / "p.vnr") + " " + q(dir / "src/a.txt"));
  ASSERT_EQ(plain.exit_code, 0);
  ToolRun mixed = with_password("pw", "a -pw:0 " + q(dir / "p.vnr") + " " + q(dir / "src/docs"));
  EXPECT_EQ(mixed.exit_code, 1);
  EXPECT_NE(mixed.err.find("is not encrypted: encrypted members cannot join"), std::string::npos) << mixed.err;
  for (std::string name : {"p.exe", "p.zip"}) {
    ToolRun refused = with_password("pw", "a -pw:0 " + q(dir / name) + " " + q(dir / "src/docs"));
    EXPECT_EQ(refused.exit_code, 2) << name;
    EXPECT_FALSE(exists(dir / name)) << name;
  }
  write_file(dir / "pw.txt", "pw");
  ToolRun from_file = run_tool("l -pw " + q(archive) + " <" + q(dir / "pw.txt"), "VANTOR_PASSWORD_HANDLE=0 ");
  EXPECT_EQ(from_file.err, "vantor: VANTOR_PASSWORD_HANDLE does not name an open pipe\n");
  ToolRun from_pipe = run_tool("l -pw " + q(archive), "printf pw | VANTOR_PASSWORD_HANDLE=0 ");
  EXPECT_EQ(from_pipe.exit_code, 0) << from_pipe.err;
}

// Every single-bit change outside the marks, every cut and two entries swapped are refused; a
// changed mark is not (the front end rewrites it).
TEST(Encryption, EveryFlippedBitCutAndSwapIsRefused) {
  ScratchFolder dir;
  std::string archive = encrypted_archive(dir, "");
  const std::string good = read_file(archive);
  ASSERT_EQ(unseal_remembering(dir, archive), UnsealOutcome::OK);
  std::vector<int64_t> marks = mark_offsets(archive);
  ASSERT_EQ(marks.size(), 4u);
  // Sampled evenly, with every byte of the first entry's head (the key parameters) included.
  std::vector<size_t> positions;
  for (size_t at = 0; at < 120; ++at) positions.push_back(at);
  for (size_t at = 120; at < good.size(); at += good.size() / 100) positions.push_back(at);
  int tried = 0;
  for (size_t at : positions) {
    if (std::find(marks.begin(), marks.end(), static_cast<int64_t>(at)) != marks.end()) continue;
    std::string bytes = good;
    bytes[at] = static_cast<char>(bytes[at] ^ (1 << (at % 8)));
    write_file(archive, bytes);
    EXPECT_NE(unseal_remembering(dir, archive), UnsealOutcome::OK) << "bit flipped at " << at;
    ++tried;
  }
  EXPECT_GE(tried, 200);
  for (size_t length : {good.size() - 1, good.size() - 17, good.size() / 2, size_t{40}, size_t{1}}) {
    write_file(archive, good.substr(0, length));
    EXPECT_NE(unseal_remembering(dir, archive), UnsealOutcome::OK) << "cut to " << length;
  }
  // Whole entries dropped from the end, or the 2nd and 3rd swapped.
  std::vector<int64_t> starts;
  std::vector<std::string> paths;
  write_file(archive, good);
  index_walk_file(archive, [&](const IndexEntry& e) {
    starts.push_back(e.position);
    paths.push_back(e.folder + e.name);
  });
  starts.push_back(static_cast<int64_t>(good.size()));
  write_file(archive, good.substr(0, static_cast<size_t>(starts[3])));
  EXPECT_EQ(unseal_remembering(dir, archive), UnsealOutcome::DAMAGED);
  std::string swapped = good.substr(0, static_cast<size_t>(starts[1])) +
                        good.substr(static_cast<size_t>(starts[2]), static_cast<size_t>(starts[3] - starts[2])) +
                        good.substr(static_cast<size_t>(starts[1]), static_cast<size_t>(starts[2] - starts[1])) +
                        good.substr(static_cast<size_t>(starts[3]));
  write_file(archive, swapped);
  EXPECT_TRUE(index_walk_file(archive, {}).sound());
  EXPECT_EQ(unseal_remembering(dir, archive), UnsealOutcome::DAMAGED);
  std::string marked = good;
  for (int64_t m : marks) marked[static_cast<size_t>(m)] = 1;
  write_file(archive, marked);
  EXPECT_EQ(unseal_remembering(dir, archive), UnsealOutcome::OK);
  // Through the archiver, which decrypts as it reads: the changed member is refused by name and
  // not written, the others come out whole, and nothing else is left.
  size_t largest = 0;
  for (size_t i = 1; i < 4; ++i)
    if (starts[i + 1] - starts[i] > starts[largest + 1] - starts[largest]) largest = i;
  std::string bytes = good;
  bytes[static_cast<size_t>(starts[largest + 1]) - 1000] ^= 4;  // in its data
  write_file(archive, bytes);
  ToolRun x = with_password("pw", "x -pw:0 " + q(archive) + " " + q(dir / "out"));
  EXPECT_EQ(x.exit_code, 1);
  std::string path = paths[largest];
  std::replace(path.begin(), path.end(), '\\', '/');
  EXPECT_NE(x.err.find(path + ": does not match its seal (damaged or changed by someone without the password)"),
            std::string::npos) << x.err;
  for (const auto& [name, content] : sample_files()) {
    if (name == path) EXPECT_FALSE(exists(dir / ("out/" + name)));
    else EXPECT_EQ(read_file(dir / ("out/" + name)), content) << name;
  }
  ToolRun t = with_password("pw", "t -pw:0 " + q(archive));
  EXPECT_EQ(t.exit_code, 1);
  EXPECT_EQ(t.err.find("vantor: damaged member: " + path + ": does not match its seal"), 0u) << t.err;
  EXPECT_EQ(names_in(dir.path), (std::vector<std::string>{"e.vnr", "out", "plain.vnr", "src"}));
  std::vector<std::string> left = names_in(dir / "out/docs");  // no partial file beside them
  EXPECT_EQ(left.size(), path.rfind("docs/", 0) == 0 ? 1u : 2u);
}

// Read in place, the plain archive is the unsealed one byte for byte, however it is reached:
// in order in odd pieces, or at random (back, across entries, into long streams) by a second
// reader sharing the first one's checkpoints.
TEST(Encryption, ThePlainArchiveReadInPlaceIsTheUnsealedOneFromAnyOffset) {
  for (std::string switches : {"", "-s", "-he"}) {
    ScratchFolder dir;
    write_file(dir / "src/long.bin", random_bytes(2600000, 7));  // 40 chunks: checkpoints on the way
    std::string archive = encrypted_archive(dir, switches);
    ASSERT_EQ(unseal_remembering(dir, archive), UnsealOutcome::OK) << switches;
    const std::string plain = read_file(dir / "plain.vnr");
    std::shared_ptr<SealedLayout> layout = sealed_layout_of(archive);
    ASSERT_TRUE(layout);
    std::unique_ptr<ArchiveSource> in_order = sealed_source(layout), at_random = sealed_source(layout);
    ASSERT_EQ(in_order->length(), static_cast<int64_t>(plain.size()));
    std::string got(plain.size(), '\0');
    for (size_t at = 0, step = 1; at < plain.size(); at += step, step = step * 7 % 70001 + 1) {
      step = std::min(step, plain.size() - at);
      ASSERT_TRUE(in_order->read_at(static_cast<int64_t>(at), &got[at], step)) << switches << " at " << at;
    }
    EXPECT_TRUE(got == plain) << switches;
    uint32_t seed = 12345;
    for (int i = 0; i < 300; ++i) {
      seed = seed * 1103515245 + 12345;
      size_t at = seed % plain.size(), n = std::min<size_t>((seed >> 8) % 200000 + 1, plain.size() - at);
      std::string part(n, '\0');
      ASSERT_TRUE(at_random->read_at(static_cast<int64_t>(at), &part[0], n)) << switches << " at " << at;
      ASSERT_TRUE(part == plain.substr(at, n)) << switches << " at " << at << ", " << n << " bytes";
    }
    EXPECT_FALSE(at_random->read_at(static_cast<int64_t>(plain.size()) - 2, &got[0], 3));
    // Megabyte reads as the decoders make them, with the reads after them landing inside the
    // stretch read ahead, right at its end, past it, and back before it.
    std::unique_ptr<ArchiveSource> wandering = sealed_source(layout);
    const size_t mb = 1 << 20;
    for (auto [at, n] : std::vector<std::pair<size_t, size_t>>{{0, mb}, {mb + 100, 5000}, {mb + 5100, mb - 5100},
                                                               {2 * mb, 300000}, {100, 70000}, {70100, mb},
                                                               {70100 + mb, 40}, {2 * mb + 400000, 3}}) {
      n = std::min(n, plain.size() - std::min(at, plain.size()));
      std::string part(n, '\0');
      ASSERT_TRUE(wandering->read_at(static_cast<int64_t>(at), &part[0], n)) << switches << " at " << at;
      ASSERT_TRUE(part == plain.substr(at, n)) << switches << " at " << at << ", " << n << " bytes";
    }
  }
}

// A reader decrypts the next stretch on its own thread; a damaged chunk met there is neither
// handed out nor blamed on a read elsewhere, and is refused by name when it is read.
TEST(Encryption, ADamagedChunkReadAheadIsRefusedOnlyWhenItIsRead) {
  ScratchFolder dir;
  write_file(dir / "src/long.bin", random_bytes(2600000, 7));
  write_file(dir / "src/short.txt", sample_text(50000, 3));
  std::string archive = encrypted_archive(dir, "-m0");
  ASSERT_EQ(unseal_remembering(dir, archive), UnsealOutcome::OK);
  const std::string plain = read_file(dir / "plain.vnr");
  std::shared_ptr<SealedLayout> layout = sealed_layout_of(archive);
  ASSERT_TRUE(layout);
  size_t long_piece = 0;
  while (long_piece < layout->pieces.size() && layout->pieces[long_piece].name != "long.bin") ++long_piece;
  ASSERT_LT(long_piece, layout->pieces.size());
  const SealedLayout::Piece& piece = layout->pieces[long_piece];
  // Chunk 20 of long.bin is damaged after the index was checked: the second megabyte's stretch.
  std::string bytes = read_file(archive);
  bytes[static_cast<size_t>(piece.sealed_at) + 20 * (SEAL_CHUNK + SEAL_TAG_BYTES) + 9] ^= 4;
  write_file(archive, bytes);
  const size_t data_at = static_cast<size_t>(piece.data_at());
  const size_t mb = 1 << 20;
  std::unique_ptr<ArchiveSource> reader = sealed_source(layout);
  std::string part(mb, '\0');
  ASSERT_TRUE(reader->read_at(static_cast<int64_t>(data_at), &part[0], mb));
  EXPECT_TRUE(part == plain.substr(data_at, mb));
  // Elsewhere (short.txt, before or after long.bin), while the stretch with the damage was read.
  const SealedLayout::Piece& other = layout->pieces[long_piece == 0 ? 1 : long_piece - 1];
  std::string text(static_cast<size_t>(other.data_size), '\0');
  ASSERT_TRUE(reader->read_at(other.data_at(), &text[0], text.size()));
  EXPECT_TRUE(text == plain.substr(static_cast<size_t>(other.data_at()), text.size()));
  // The first megabyte again, then on into the damage: refused there, naming the member.
  ASSERT_TRUE(reader->read_at(static_cast<int64_t>(data_at), &part[0], mb));
  EXPECT_FALSE(reader->read_at(static_cast<int64_t>(data_at + mb), &part[0], mb));
  EXPECT_NE(reader->read_problem().find("does not match its seal"), std::string::npos) << reader->read_problem();
  // Before the damage everything still reads.
  ASSERT_TRUE(reader->read_at(static_cast<int64_t>(data_at + mb), &part[0], 4 * SEAL_CHUNK));
  EXPECT_TRUE(part.substr(0, 4 * SEAL_CHUNK) == plain.substr(data_at + mb, 4 * SEAL_CHUNK));
}

// Sealing writes on a thread of its own; a write that fails there still says why.
TEST(Encryption, SealingOntoAFullDiskSaysWhy) {
  ScratchFolder dir;
  write_file(dir / "src/a.txt", sample_text(3 << 20, 5));
  std::string archive = encrypted_archive(dir, "-m0");
  ASSERT_EQ(unseal_remembering(dir, archive), UnsealOutcome::OK);
  SealKey key;
  key.key.resize(32);
  File full;
  ASSERT_TRUE(full.create("/dev/full"));
  std::string problem;
  EXPECT_FALSE(seal_archive(dir / "plain.vnr", full, key, false, problem));
  EXPECT_EQ(problem, "cannot write the archive: " + std::string(std::strerror(ENOSPC)));
}

// What adding and deleting keep on the disk of the archive's plain form is masked: the working
// copy holds none of a stored member's bytes as they are, yet reads back as the plain archive.
TEST(Encryption, TheWorkingCopyOfAChangeReachesTheDiskMasked) {
  ScratchFolder dir;
  std::string marker;
  for (int i = 0; i < 400; ++i) marker += "plain member text " + std::to_string(i) + "\n";
  write_file(dir / "src/marker.txt", marker);
  std::string archive = encrypted_archive(dir, "-m0");
  ASSERT_EQ(unseal_remembering(dir, archive), UnsealOutcome::OK);
  const std::string plain = read_file(dir / "plain.vnr");
  ASSERT_NE(plain.find(marker.substr(0, 200)), std::string::npos);
  std::string folder;
  {
    PlainCopy copy;
    std::string problem;
    Secret password;
    std::copy_n("pw", 2, password.data());
    password.resize(2);
    ASSERT_TRUE(copy.unseal(archive, password, problem)) << problem;
    folder = copy.path().substr(0, copy.path().rfind('/'));
    std::string on_disk = read_file(copy.path());
    EXPECT_EQ(on_disk.size(), plain.size());
    EXPECT_EQ(on_disk.find(marker.substr(0, 40)), std::string::npos);
    File through;
    ASSERT_TRUE(through.open_read(copy.path()));
    std::string back(plain.size(), '\0');
    ASSERT_TRUE(through.read_at(0, &back[0], back.size()));
    EXPECT_TRUE(back == plain);
    // Another file there, written in odd pieces and read back in others, the same way.
    File spill;
    ASSERT_TRUE(spill.create_new(folder + "/spill"));
    for (size_t at = 0; at < marker.size(); at += 77) ASSERT_TRUE(spill.write(&marker[at], std::min<size_t>(77, marker.size() - at)));
    spill.close();
    EXPECT_EQ(read_file(folder + "/spill").find(marker.substr(0, 40)), std::string::npos);
    ASSERT_TRUE(spill.open_read(folder + "/spill"));
    std::string again;
    char piece[333];
    for (int64_t n; (n = spill.read(piece, sizeof piece)) > 0;) again.append(piece, static_cast<size_t>(n));
    EXPECT_TRUE(again == marker);
  }
  EXPECT_FALSE(exists(folder));
  // Files elsewhere are written as they are.
  File plain_file;
  ASSERT_TRUE(plain_file.create(dir / "outside.txt"));
  ASSERT_TRUE(plain_file.write(marker.data(), marker.size()));
  plain_file.close();
  EXPECT_EQ(read_file(dir / "outside.txt"), marker);
}

// Key parameters outside 64-256 MB and 1-16 passes are refused before anything is allocated: with
// the address space capped below what they ask, the refusal is still ours, not a failed allocation.
TEST(Encryption, KeyParametersOutOfRangeAreRefusedBeforeAllocating) {
  ScratchFolder dir;
  std::string archive = encrypted_archive(dir, "");
  const std::string good = read_file(archive);
  size_t head = static_cast<size_t>(mark_offsets(archive)[0]) + 1;
  auto with = [&](uint32_t ops, uint32_t kib) {
    std::string bytes = good;
    for (int i = 0; i < 4; ++i) bytes[head + 3 + i] = static_cast<char>(ops >> (8 * i));
    for (int i = 0; i < 4; ++i) bytes[head + 7 + i] = static_cast<char>(kib >> (8 * i));
    write_file(archive, bytes);
  };
  for (auto [ops, kib] : {std::pair<uint32_t, uint32_t>{1, 0xFFFFFFFFu}, {1, 4u << 20}, {1, (64u << 10) - 1},
                          {0, 64u << 10}, {17, 64u << 10}, {0xFFFFFFFFu, 256u << 10}}) {
    with(ops, kib);
    ToolRun run = with_password("pw", "t -pw:0 " + q(archive), "ulimit -v 400000; ");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find("outside 64-256 MB and 1-16 passes: refused"), std::string::npos) << ops << " " << kib << run.err;
  }
  with(1, 256u << 10);  // in range: derived, and then the key does not fit
  ToolRun run = with_password("pw", "t -pw:0 " + q(archive));
  EXPECT_EQ(run.err, "vantor: wrong password for " + archive + "\n");
}

// A zip's traditionally encrypted members open with -pw; a wrong password leaves no file, and AES
// members, which this build's zip reader has no cipher for, are refused by name.
TEST(Encryption, ZipMembersOpenWithThePassword) {
  ScratchFolder dir;
  write_file(dir / "a.txt", sample_text(40000, 7));
  ASSERT_EQ(std::system(("cd " + q(dir.path) + " && zip -q -P secret t.zip a.txt").c_str()), 0);
  ToolRun x = with_password("secret", "x -pw:0 " + q(dir / "t.zip") + " " + q(dir / "out"));
  EXPECT_EQ(x.exit_code, 0) << x.err;
  EXPECT_EQ(read_file(dir / "out/a.txt"), sample_text(40000, 7));
  ToolRun wrong = with_password("wrong", "x -pw:0 " + q(dir / "t.zip") + " " + q(dir / "bad"));
  EXPECT_EQ(wrong.exit_code, 1);
  EXPECT_NE(wrong.err.find("a.txt: Incorrect passphrase"), std::string::npos) << wrong.err;
  EXPECT_TRUE(names_in(dir / "bad").empty());
  if (std::system(("cd " + q(dir.path) + " && 7z a -bd -tzip -mem=AES256 -psecret aes.zip a.txt >/dev/null").c_str()) != 0)
    GTEST_SKIP() << "7z cannot write an AES zip here";
  ToolRun aes = with_password("secret", "x -pw:0 " + q(dir / "aes.zip") + " " + q(dir / "aes"));
  EXPECT_EQ(aes.exit_code, 1);
  EXPECT_NE(aes.err.find("a.txt: "), std::string::npos) << aes.err;
  EXPECT_TRUE(names_in(dir / "aes").empty());
}
