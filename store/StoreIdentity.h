// Which store a location names, whatever its spelling: a PostgreSQL database by its host, port
// and database name (user, options and password are no part of it: the same database reached
// as another user, or with connect_timeout added, is the same store), an SQLite file by its
// canonical path. Journals are named and matched by it.
#pragma once

#include <string>

// "postgresql://HOST:PORT/DBNAME" (with "?service=NAME" when a service names it) or
// "sqlite:/CANONICAL/PATH". Libpq's environment (PGHOST, PGPORT, PGDATABASE, PGUSER) and
// defaults fill what a PostgreSQL location leaves out, as they do for its connection.
std::string StoreIdentity(const std::string& location);

// The file name of the store's journal: readable (the SQLite file's name, or the database, host
// and port) and unique to the identity (a hash of it), e.g. "k350-line.sqlite-1f3a9c02.journal".
std::string JournalFileName(const std::string& location);
