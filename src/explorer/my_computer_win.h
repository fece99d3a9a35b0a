// The My Computer place shared by the location combo and the folder tree: its display name and
// small system icon, asked of the shell once.
#pragma once
#include <string>

struct MyComputer {
  std::string name = "My Computer";
  int icon = 0;
};

const MyComputer& my_computer();
