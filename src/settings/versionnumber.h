#pragma once

class QString;

// Compares dotted version texts part by part from the left, numerically: "1.10" is newer than
// "1.9". Missing or non-numeric parts count as 0, so "" is older than any real version.
// Returns a negative number when a is older than b, 0 when equal, positive when newer.
int compareVersions(const QString &a, const QString &b);
