// Text rules of the open-file requester, kept apart from the dialog so they can be tested anywhere.
#pragma once
#include <string>

struct RequesterStart {
  std::string folder;     // up to the last "\" (without it), or "" when there is none
  std::string file_name;  // after the last "\", dropped when it holds a character a file name cannot
};

RequesterStart split_requester_path(const std::string& default_path);
// "Text|*.txt|All|*.*" becomes the dialog's zero-separated list, ended by two zero bytes; "" stays "".
std::string requester_filter(const std::string& pattern);
