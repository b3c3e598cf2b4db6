#pragma once

#include <QByteArray>
#include <QString>

// The service signs the body of every version record with the project's Ed25519 key and sends the
// detached signature, base64, in the header below. Checksums that come from the same server prove
// nothing when that server is taken over; the signature does, as long as the key stays with the
// project. Thread-safe.
namespace UpdateSignature {

inline constexpr char Header[] = "X-Velkora-Signature";

enum class Result { Valid, NoKey, Missing, Malformed, Wrong };

Result verify(
    const QByteArray &body, const QByteArray &base64Signature, const QByteArray &publicKey);
// Why nothing was installed, for the user; empty for Valid.
QString describe(Result result);

} // namespace UpdateSignature
