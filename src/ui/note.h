// A note: one modal message box with a short title, one line of text and an icon.
#pragma once

struct Note {
  const char* title;
  const char* text;
  unsigned flags;
};

constexpr unsigned NOTE_WARNING = 0x30;
constexpr unsigned NOTE_INFORMATION = 0x40;

void show_note(const Note& note);
