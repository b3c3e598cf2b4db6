#pragma once

class QString;

// The update service's rule for "is there something newer": dotted versions compared part by
// part, where "beta" parts only compare with other "beta" parts and anything else that does not
// parse makes the answer "no". It differs from compareVersions() (settings), which reads missing
// and odd parts as 0: an update must never be offered on a doubtful comparison.
namespace UpdateVersion {

// The version this program is.
QString current();

// Whether latest is newer than current. A latest version of fewer than three parts never is.
bool isNewer(const QString &latest, const QString &current);

} // namespace UpdateVersion
