#include "loading/htmlimageurls.h"

#include <QDomDocument>
#include <QRegularExpression>
#include <QUrl>

#include <limits>

namespace {

const QRegularExpression::PatternOptions caseInsensitive
    = QRegularExpression::CaseInsensitiveOption;

// Leading decimal digits of a srcset descriptor: "800w" is 800, "2x" is 2, "x" is 0.
int descriptorValue(const QString &descriptor)
{
    int value = 0;
    for (const QChar c : descriptor) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            break;
        if (value > (std::numeric_limits<int>::max() - 9) / 10)
            break;
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

QString srcsetChoice(const QString &srcset)
{
    static const QRegularExpression whitespace(QStringLiteral("\\s+"));
    QString choice;
    int best = 0;
    const QStringList candidates = srcset.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &candidate : candidates) {
        // Pages break srcset lists across lines, so any white space separates the words.
        const QStringList words
            = HtmlImageUrls::decodeEntities(candidate).split(whitespace, Qt::SkipEmptyParts);
        if (words.size() == 1) {
            choice = words.first();
        } else if (words.size() > 1) {
            const int value = descriptorValue(words.at(1));
            if (value > best) {
                best = value;
                choice = words.first();
            }
        }
    }
    return choice;
}

bool hasScheme(const QString &url)
{
    static const QRegularExpression scheme(QStringLiteral("^[a-z][a-z0-9+.-]*:"), caseInsensitive);
    return scheme.match(url).hasMatch();
}

bool isWebUrl(const QString &url)
{
    static const QRegularExpression web(QStringLiteral("^https?://"), caseInsensitive);
    return web.match(url).hasMatch();
}

} // namespace

QStringList HtmlImageUrls::extractImageUrls(const QString &html, const QString &baseUrl)
{
    // "[^\"]*" and "[^>]*" stop where the lazy ".*?" would on one line, and also read elements
    // that pages break across lines.
    static const QRegularExpression src(
        QStringLiteral("<\\s*?img[^>]*?src=\"([^\"]*)\"[^>]*>"), caseInsensitive);
    static const QRegularExpression srcset(
        QStringLiteral("<\\s*?img[^>]*?srcset=\"([^\"]*)\""), caseInsensitive);
    static const QRegularExpression background(
        QStringLiteral("background[^\\;|^>]*?url\\((.*?)\\)"), caseInsensitive);

    QStringList urls;
    const auto append = [&](const QString &url) {
        // An empty address would resolve to the page's own folder, which is not an image. Quotes
        // and entities go before the address is resolved: CSS often says url('').
        if (!decodeEntities(url).trimmed().isEmpty())
            urls.append(resolveUrl(url, baseUrl));
    };

    for (auto it = src.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        // An element that also has srcset is handled by the srcset rule, which picks its
        // largest picture.
        if (!match.captured(0).contains(QLatin1String("srcset=\""), Qt::CaseInsensitive))
            append(match.captured(1));
    }
    for (auto it = srcset.globalMatch(html); it.hasNext();)
        append(srcsetChoice(it.next().captured(1)));
    for (auto it = background.globalMatch(html); it.hasNext();)
        append(it.next().captured(1));

    urls.removeDuplicates();
    return urls;
}

QString HtmlImageUrls::resolveUrl(const QString &url, const QString &baseUrl)
{
    const QString address = decodeEntities(url);
    if (isWebUrl(address))
        return address;

    const QUrl base(baseUrl);
    const bool baseValid = !baseUrl.isEmpty() && base.isValid();
    if (address.startsWith(QLatin1String("//"))) {
        const QString scheme
            = baseValid && !base.scheme().isEmpty() ? base.scheme() : QStringLiteral("http");
        return scheme + QLatin1Char(':') + address;
    }
    // Other schemes (data:, file:, mailto:) are complete as they are; joining them to the
    // page's address would make a web address of them.
    if (hasScheme(address) || !baseValid)
        return address;

    // The port belongs to the server: a page on localhost:8080 refers to pictures there too.
    QString origin = base.scheme() + QLatin1String("://") + base.host(QUrl::FullyDecoded);
    if (base.port() != -1)
        origin += QLatin1Char(':') + QString::number(base.port());
    if (address.startsWith(QLatin1Char('/')))
        return origin + address;

    QString folder = base.path(QUrl::FullyDecoded);
    folder.chop(base.fileName(QUrl::FullyDecoded).size());
    if (!folder.startsWith(QLatin1Char('/')))
        folder.prepend(QLatin1Char('/'));
    if (!folder.endsWith(QLatin1Char('/')))
        folder.append(QLatin1Char('/'));
    return origin + folder + address;
}

QString HtmlImageUrls::decodeEntities(const QString &text)
{
    QString decoded = text;
    decoded.remove(QLatin1Char('"'));
    decoded.remove(QLatin1Char('\''));
    decoded.replace(QLatin1String("&lt;"), QLatin1String("<"));
    decoded.replace(QLatin1String("&gt;"), QLatin1String(">"));
    decoded.replace(QLatin1String("&amp;"), QLatin1String("&"));
    decoded.remove(QLatin1String("&quot;"));
    decoded.remove(QLatin1String("&#xA;"));
    return decoded;
}

QString HtmlImageUrls::firstImageUrl(const QString &html)
{
    QDomDocument document;
    if (document.setContent(html)) {
        const QDomElement image
            = document.elementsByTagName(QStringLiteral("img")).item(0).toElement();
        if (image.isNull())
            return QString();
        const QString source = image.attribute(QStringLiteral("src"));
        if (!source.isEmpty())
            return source;
        return image.attribute(QStringLiteral("srcset"))
            .split(QLatin1Char(' '), Qt::SkipEmptyParts)
            .value(0);
    }

    // Browsers put HTML on the clipboard, not XML (an unclosed <meta> is enough to fail the
    // parse above): fall back to the first image element's attributes found by pattern.
    static const QRegularExpression image(QStringLiteral("<\\s*img\\b[^>]*>"), caseInsensitive);
    static const QRegularExpression source(
        QStringLiteral("\\ssrc\\s*=\\s*\"([^\"]*)\""), caseInsensitive);
    static const QRegularExpression sourceSet(
        QStringLiteral("\\ssrcset\\s*=\\s*\"\\s*([^\\s\",]*)"), caseInsensitive);
    const QString element = image.match(html).captured(0);
    const QString found = source.match(element).captured(1);
    return found.isEmpty() ? sourceSet.match(element).captured(1) : found;
}

bool HtmlImageUrls::isFetchable(const QString &url)
{
    return isWebUrl(url);
}
