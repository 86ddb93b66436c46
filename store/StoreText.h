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

// An argument as a message shows it: in double quotes, control characters and bytes that are not
// UTF-8 escaped, cut after 60 bytes, so one argument never makes a long line or several.
std::string Quoted(const std::string& argument);

// A stored text on one line of a terminal's output (history, report): a backslash, line breaks,
// tabs and every other control character (C0, DEL, C1) escaped, as a byte that is not UTF-8 is
// (\x1B), so whatever a station name, a recipe or an error holds, it never starts a line of its
// own or moves the cursor.
std::string EscapedLine(const std::string& text);

// A field of a CSV file: quoted where it holds a comma, a quote or a line break, and kept from
// being run as a formula by a spreadsheet: a field that begins with =, +, -, @, a tab or a
// carriage return gets a single quote in front, unless it is a plain number ("-12.5", "+3",
// "1e-3"), which a spreadsheet reads as that number and runs nothing.
std::string CsvField(const std::string& text);

// The text as a text column of either database takes it: a NUL, or a byte that is not part of a
// UTF-8 character (a character cut short, a program's Latin-1), becomes U+FFFD.
std::string StorableText(const std::string& bytes);

// Why a name (a bench's, a recipe's) cannot be kept and shown as it is, or "": not UTF-8 (a file
// saved as cp1251), a control character, or more than `most` characters.
std::string NameProblem(const std::string& name, std::size_t most);
