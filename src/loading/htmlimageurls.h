#pragma once

#include <QStringList>

// Finds the image addresses in HTML that was dropped, pasted or downloaded, and completes
// relative addresses against the page's own. Pure text work; any thread.
class HtmlImageUrls {
public:
    // Image addresses of <img src>, the largest <img srcset> candidate and CSS background url(),
    // in that order, resolved against baseUrl, each once.
    static QStringList extractImageUrls(const QString &html, const QString &baseUrl);
    // An absolute address for url, found in a page at baseUrl.
    static QString resolveUrl(const QString &url, const QString &baseUrl);
    static QString decodeEntities(const QString &text);
    // The address of the first <img> of a fragment: its src, else the first word of its srcset.
    static QString firstImageUrl(const QString &html);
    // Only web addresses are fetched; file:, data: and other schemes are not.
    static bool isFetchable(const QString &url);
};
