// libFuzzer target for the search for pictures in HTML that was dropped, pasted or downloaded.
// An input is the page's address, a line feed, then the page as UTF-8. Every address found is
// resolved against the page, and none may be the page's own folder, which is what an empty
// address resolves to and never a picture, unless the page names it. Of a page with a web
// address, that is: others have no folder.
// See CMakeLists.txt in this folder; "-make_corpus=DIR" writes the seeds of fuzz/html-seeds.

#include "fuzzcorpus.h"
#include "loading/htmlimageurls.h"

#include <QDir>
#include <QFile>
#include <QUrl>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void makeCorpus(const QString &directory)
{
    const auto save = [&directory](const QString &name, const QByteArray &bytes) {
        writeSeed(directory, name, bytes);
    };
    save(QStringLiteral("page.html"),
        "https://example.com:8080/gallery/page.html\n"
        "<html><body><img src=\"a.png\" alt=\"x\"><IMG class=\"b\"\n"
        "  src=\"/root/b.jpg\"><img src=\"//cdn.example.com/c.webp\">"
        "<img srcset=\"small.jpg 320w, large.jpg 1280w\" src=\"fallback.jpg\">"
        "<div style=\"background: url('bg.png') no-repeat\"></div>"
        "<img src=\"data:image/png;base64,iVBORw0KGgo=\"><img src=\"a&amp;b.png\">"
        "</body></html>");
    save(QStringLiteral("fragment.html"), "\n<img srcset=\"one.png 1x,&#xA; two.png 2x\">");
    save(QStringLiteral("dropped.html"),
        "file:///home/user/page.html\n"
        "<meta http-equiv=\"content-type\" content=\"text/html\">"
        "<img src=\"pictures/dropped.png\" />");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    makeCorpusWhenAsked(*argc, *argv, makeCorpus);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    const int lineEnd = input.indexOf('\n');
    const QString baseUrl = QString::fromUtf8(lineEnd < 0 ? input : input.left(lineEnd));
    const QString html = lineEnd < 0 ? QString() : QString::fromUtf8(input.mid(lineEnd + 1));

    // For a page with a web address, which has a folder to resolve against; the page may name
    // the folder itself, by its path.
    const QUrl base(baseUrl, QUrl::StrictMode);
    const bool web = base.isValid() && !base.host().isEmpty()
        && (base.scheme() == QLatin1String("http") || base.scheme() == QLatin1String("https"));
    const QString folder = HtmlImageUrls::resolveUrl(QString(), baseUrl);
    const bool named = html.contains(QUrl(folder).path());
    const QStringList urls = HtmlImageUrls::extractImageUrls(html, baseUrl);
    for (const QString &url : urls) {
        if (web && url == folder && !named)
            std::abort();
        HtmlImageUrls::isFetchable(url);
    }
    HtmlImageUrls::isFetchable(HtmlImageUrls::firstImageUrl(html));
    return 0;
}
