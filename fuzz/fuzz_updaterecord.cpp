// libFuzzer target for the update service's version record and its signature. An input is the
// signature header's value, a line feed, then the body. A header of "sign" has this target sign
// the body with its own key, so that mutations reach the parts read only from signed bodies;
// any other header must not verify. Every body is then read as the updater reads a signed one,
// and a record whose paths are accepted must name nothing outside the installation or inside the
// updater's own folders: each path is resolved against an installation folder here to see.
// See CMakeLists.txt in this folder; "-make_corpus=DIR" writes the seeds of fuzz/update-seeds.

#include "fuzzcorpus.h"
#include "update/updatemanifest.h"
#include "update/updatesignature.h"
#include "update/updateversion.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sodium.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

struct Keys {
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
    unsigned char secretKey[crypto_sign_SECRETKEYBYTES];

    Keys()
    {
        if (sodium_init() < 0)
            std::abort();
        // A fixed key: an input must verify the same way in every run.
        unsigned char seed[crypto_sign_SEEDBYTES] = {};
        crypto_sign_seed_keypair(publicKey, secretKey, seed);
    }
    QByteArray sign(const QByteArray &body) const
    {
        unsigned char signature[crypto_sign_BYTES];
        crypto_sign_detached(signature, nullptr,
            reinterpret_cast<const unsigned char *>(body.constData()),
            static_cast<unsigned long long>(body.size()), secretKey);
        return QByteArray(reinterpret_cast<const char *>(signature), crypto_sign_BYTES).toBase64();
    }
    QByteArray key() const
    {
        return QByteArray(reinterpret_cast<const char *>(publicKey), crypto_sign_PUBLICKEYBYTES);
    }
};

const QString Installation = QStringLiteral("/installation/");

bool staysInside(const QString &path)
{
    const QString resolved = QDir::cleanPath(Installation + path);
    return resolved.startsWith(Installation)
        && !resolved.mid(Installation.size()).startsWith(UpdateManifest::workFolderPrefix());
}

void require(bool condition)
{
    if (!condition)
        std::abort();
}

void makeCorpus(const QString &directory)
{
    const auto save = [&directory](const QString &name, const QByteArray &bytes) {
        writeSeed(directory, name, bytes);
    };
    const QByteArray update = R"({"version": "1.12.0", "message": "Newer",
"changelog": "<b>fixed</b>", "rawchangelog": "fixed", "needstempcopy": true,
"copyfiles": ["lib/a.so", "velkora"],
"updatefiles": [["velkora", "0123456789abcdef0123456789abcdef", "main"],
 ["lib/b.so", ""], ["lib/c.so", "lib/b.so", "link"], ["old/file", "abc", "delete"]]})";
    save(QStringLiteral("signed-update.txt"), "sign\n" + update);
    save(QStringLiteral("signature-of-another-key.txt"),
        QByteArray(crypto_sign_BYTES, 'A').toBase64() + '\n' + update);
    save(QStringLiteral("message-only.txt"),
        "sign\n"
        R"({"version": "2.0.0", "messageonly": true, "message": "Read this"})");
    save(QStringLiteral("installers.txt"),
        "sign\n"
        R"({"version": "1.12.0-beta.2", "installerfiles": [["setup", "00", "/S", 0]],
"errormessage": "Could not"})");
    save(QStringLiteral("unsigned.txt"),
        "\n"
        R"({"version": "9.9.9"})");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    makeCorpusWhenAsked(*argc, *argv, makeCorpus);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const Keys keys;
    const QByteArray input(reinterpret_cast<const char *>(data), int(size));
    const int lineEnd = input.indexOf('\n');
    const QByteArray header = lineEnd < 0 ? input : input.left(lineEnd);
    const QByteArray body = lineEnd < 0 ? QByteArray() : input.mid(lineEnd + 1);

    const bool signedHere = header == "sign";
    const UpdateSignature::Result result
        = UpdateSignature::verify(body, signedHere ? keys.sign(body) : header, keys.key());
    require((result == UpdateSignature::Result::Valid) == signedHere);
    UpdateSignature::describe(result);

    UpdateManifest manifest = UpdateManifest::parse(body);
    UpdateVersion::isNewer(manifest.version, UpdateVersion::current());
    UpdateVersion::isNewer(UpdateVersion::current(), manifest.version);
    if (!manifest.checkPaths().isEmpty())
        return 0;
    for (const UpdateManifest::File &file : qAsConst(manifest.files))
        require(staysInside(file.path));
    for (const QString &path : qAsConst(manifest.copyFiles))
        require(staysInside(path));
    for (const UpdateManifest::Pair &deletion : qAsConst(manifest.deletions))
        require(staysInside(deletion.first));
    for (const UpdateManifest::Pair &link : qAsConst(manifest.links)) {
        require(staysInside(link.first));
        const QString folder = QFileInfo(Installation + link.first).path() + QLatin1Char('/');
        require(QDir::cleanPath(folder + link.second).startsWith(Installation));
    }
    return 0;
}
