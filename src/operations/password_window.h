// The small password window: a new password typed twice (with "Encrypt names too") for the
// compression window, or the password of an archive being opened.
#pragma once
#include <string>

struct NewPassword {
  std::string password;  // empty: none set
  bool encrypt_names = false;
};

// Over window `parent` (disabled meanwhile). True with the choice taken; false when cancelled,
// which leaves `choice` as it was. A mismatch or an empty password is said and the window stays.
bool ask_new_password(int parent, NewPassword& choice);
// The password of the archive at path, in one field. False when cancelled.
bool ask_archive_password(int parent, const std::string& archive_path, std::string& password);
