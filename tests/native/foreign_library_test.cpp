// The libarchive the set-up builds: every compressor a foreign archive may use is decoded by the
// linked library itself. A codec left out of its configuration would make libarchive fall back to
// running an outside program (ARCHIVE_WARN), which the Windows builds do not have.
#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <string>

namespace {

std::string payload() {
  std::string s;
  uint32_t x = 1;
  while (s.size() < 200000) {
    x = x * 1103515245u + 12345u;
    s += (x >> 28) < 3 ? std::to_string(x) : std::string("a line that repeats\n");
  }
  return s;
}

TEST(ForeignLibrary, EachCompressorRoundTripsThroughTheLinkedCodec) {
  const std::string data = payload();
  const struct { const char* name; int (*add)(struct archive*); } filters[] = {
      {"gzip", archive_write_add_filter_gzip}, {"bzip2", archive_write_add_filter_bzip2},
      {"xz", archive_write_add_filter_xz},     {"lzma", archive_write_add_filter_lzma},
      {"zstd", archive_write_add_filter_zstd}, {"lz4", archive_write_add_filter_lz4},
      {"compress (.Z)", archive_write_add_filter_compress}};
  for (const auto& filter : filters) {
    SCOPED_TRACE(filter.name);
    std::string packed(data.size() + 65536, '\0');
    size_t used = 0;
    struct archive* w = archive_write_new();
    archive_write_set_format_pax_restricted(w);
    ASSERT_EQ(filter.add(w), ARCHIVE_OK) << archive_error_string(w);
    ASSERT_EQ(archive_write_open_memory(w, packed.data(), packed.size(), &used), ARCHIVE_OK);
    struct archive_entry* e = archive_entry_new();
    archive_entry_set_pathname(e, "member.txt");
    archive_entry_set_filetype(e, AE_IFREG);
    archive_entry_set_size(e, static_cast<la_int64_t>(data.size()));
    ASSERT_EQ(archive_write_header(w, e), ARCHIVE_OK);
    ASSERT_EQ(archive_write_data(w, data.data(), data.size()), static_cast<la_ssize_t>(data.size()));
    archive_entry_free(e);
    ASSERT_EQ(archive_write_free(w), ARCHIVE_OK);
    EXPECT_LT(used, data.size());

    struct archive* r = archive_read_new();
    archive_read_support_format_all(r);
    archive_read_support_filter_all(r);
    ASSERT_EQ(archive_read_open_memory(r, packed.data(), used), ARCHIVE_OK) << archive_error_string(r);
    ASSERT_EQ(archive_read_next_header(r, &e), ARCHIVE_OK) << archive_error_string(r);
    std::string back(data.size() + 1, '\0');
    EXPECT_EQ(archive_read_data(r, back.data(), back.size()), static_cast<la_ssize_t>(data.size()));
    back.resize(data.size());
    EXPECT_TRUE(back == data);
    EXPECT_EQ(archive_read_next_header(r, &e), ARCHIVE_EOF);
    archive_read_free(r);
  }
}

}  // namespace
