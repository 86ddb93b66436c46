// A store's messages as k350ctl shows them: one line each, and never a password, whichever form
// of location or libpq message carries it.
#pragma once

#include <string>

// The text on one line: the lines of a multi-line message (libpq's, SQLite's) joined, no
// trailing line break, tabs as spaces.
std::string OneLine(const std::string& text);

// The store's location with every password in it masked as "***": the one before the `@` of
// `user:password@host` and every `password=` parameter, percent-encoded or not, the key
// included, even in a location libpq cannot parse.
std::string ShownLocation(const std::string& location);

// The message on one line, with the location shown masked and every password of the location
// masked wherever the message repeats it (libpq quotes the token it cannot decode).
std::string StoreMessage(const std::string& message, const std::string& location);

// An argument as a message shows it: in double quotes, control characters escaped, cut after 60
// characters, so one argument never makes a long line or several.
std::string Quoted(const std::string& argument);
