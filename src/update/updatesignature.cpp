#include "update/updatesignature.h"

#include <QCoreApplication>

#include <sodium.h>

namespace UpdateSignature {

Result verify(
    const QByteArray &body, const QByteArray &base64Signature, const QByteArray &publicKey)
{
    if (publicKey.size() != crypto_sign_PUBLICKEYBYTES)
        return Result::NoKey;
    if (base64Signature.trimmed().isEmpty())
        return Result::Missing;
    const auto decoded = QByteArray::fromBase64Encoding(
        base64Signature.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != crypto_sign_BYTES)
        return Result::Malformed;
    // sodium_init() is safe to call again and from several threads; it only fails when the
    // system gives no randomness, which verification does not need.
    if (sodium_init() < 0)
        return Result::Wrong;
    const int verified = crypto_sign_verify_detached(
        reinterpret_cast<const unsigned char *>(decoded.decoded.constData()),
        reinterpret_cast<const unsigned char *>(body.constData()),
        static_cast<unsigned long long>(body.size()),
        reinterpret_cast<const unsigned char *>(publicKey.constData()));
    return verified == 0 ? Result::Valid : Result::Wrong;
}

QString describe(Result result)
{
    const auto tr
        = [](const char *text) { return QCoreApplication::translate("AutoUpdater", text); };
    switch (result) {
    case Result::Valid:
        return QString();
    case Result::NoKey:
        return tr("This build of Velkora has no key to check update information with, so it "
                  "installs nothing.");
    case Result::Missing:
        return tr("The update information from the server is not signed. Nothing was installed.");
    case Result::Malformed:
        return tr("The signature of the update information is malformed. Nothing was installed.");
    case Result::Wrong:
        return tr("The signature of the update information does not match. It may have been "
                  "tampered with; nothing was installed.");
    }
    return QString();
}

} // namespace UpdateSignature
