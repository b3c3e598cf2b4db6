#include "loading/htmlimageurls.h"

#include <QTest>

class tst_HtmlImageUrls : public QObject {
    Q_OBJECT

private slots:
    void extractImageUrls_data();
    void extractImageUrls();
    void resolveUrl_data();
    void resolveUrl();
    void decodeEntities();
    void firstImageUrl_data();
    void firstImageUrl();
    void isFetchable_data();
    void isFetchable();
};

void tst_HtmlImageUrls::extractImageUrls_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("base");
    QTest::addColumn<QStringList>("expected");

    const QString base = QStringLiteral("https://example.com/dir/page.html");
    QTest::addRow("src, relative") << R"x(<p><img alt="a" src="img/x.png"></p>)x" << base
                                   << QStringList { "https://example.com/dir/img/x.png" };
    QTest::addRow("upper-case tag") << R"x(<IMG SRC="http://a.org/b.jpg">)x" << QString()
                                    << QStringList { "http://a.org/b.jpg" };
    QTest::addRow("srcset wins over src, largest descriptor")
        << R"x(<img src="small.png" srcset="a400.png 400w, a800.png 800w">)x" << base
        << QStringList { "https://example.com/dir/a800.png" };
    QTest::addRow("srcset candidate without descriptor wins over earlier")
        << R"x(<img srcset="a.png 800w, plain.png">)x" << base
        << QStringList { "https://example.com/dir/plain.png" };
    QTest::addRow("later larger descriptor beats a plain candidate")
        << R"x(<img srcset="a.png 800w, plain.png, b.png 900w">)x" << base
        << QStringList { "https://example.com/dir/b.png" };
    QTest::addRow("later smaller descriptor loses to the best so far")
        << R"x(<img srcset="plain.png, a.png 800w, b.png 400w">)x" << base
        << QStringList { "https://example.com/dir/a.png" };
    QTest::addRow("srcset across lines") << "<img srcset=\"a.png 1x,\n    b.png 2x\">" << base
                                         << QStringList { "https://example.com/dir/b.png" };
    QTest::addRow("element across lines") << "<img\n  class=\"a\"\n  src=\"m.png\"\n>" << base
                                          << QStringList { "https://example.com/dir/m.png" };
    QTest::addRow("density descriptors") << R"x(<img srcset="a.png 1.5x, b.png 2x">)x" << base
                                         << QStringList { "https://example.com/dir/b.png" };
    QTest::addRow("background url with quotes")
        << R"x(<div style="background-image: url('cat.png')">)x" << base
        << QStringList { "https://example.com/dir/cat.png" };
    QTest::addRow("background url with entities")
        << R"x(<div style="background: url(&quot;/c.png&quot;)">)x" << base
        << QStringList { "https://example.com/c.png" };
    QTest::addRow("same address by two rules, fetched once")
        << R"x(<img src="/x.png"><div style="background:url(/x.png)">)x" << base
        << QStringList { "https://example.com/x.png" };
    QTest::addRow("order: src, srcset, background")
        << R"x(<span style="background:url(c.png)"></span><img srcset="b.png"><img src="a.png">)x"
        << base
        << QStringList { "https://example.com/dir/a.png", "https://example.com/dir/b.png",
               "https://example.com/dir/c.png" };
    QTest::addRow("protocol-relative")
        << R"x(<img src="//cdn.org/i.png">)x" << base << QStringList { "https://cdn.org/i.png" };
    QTest::addRow("empty src is no address") << R"x(<img src="">)x" << base << QStringList {};
    QTest::addRow("empty quoted background url is no address")
        << R"x(<div style="background: url('')"><img src="&quot;">)x" << base << QStringList {};
    QTest::addRow("no images") << "<p>hello</p>" << base << QStringList {};
    QTest::addRow("entity in address") << R"x(<img src="/a.png?x=1&amp;y=2">)x" << base
                                       << QStringList { "https://example.com/a.png?x=1&y=2" };
}

void tst_HtmlImageUrls::extractImageUrls()
{
    QFETCH(QString, html);
    QFETCH(QString, base);
    QFETCH(QStringList, expected);
    QCOMPARE(HtmlImageUrls::extractImageUrls(html, base), expected);
}

void tst_HtmlImageUrls::resolveUrl_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("expected");

    const QString page = QStringLiteral("http://host.org/dir/page.html");
    QTest::addRow("absolute") << "https://a.org/x.png" << page << "https://a.org/x.png";
    QTest::addRow("scheme in capitals") << "HTTP://a.org/x.png" << page << "HTTP://a.org/x.png";
    QTest::addRow("relative") << "img/x.png" << page << "http://host.org/dir/img/x.png";
    QTest::addRow("root-relative") << "/x.png" << page << "http://host.org/x.png";
    QTest::addRow("relative under a bare host") << "x.png"
                                                << "http://host.org"
                                                << "http://host.org/x.png";
    QTest::addRow("relative under a folder") << "x.png"
                                             << "http://host.org/a/b/"
                                             << "http://host.org/a/b/x.png";
    QTest::addRow("keeps the port") << "x.png"
                                    << "http://127.0.0.1:8080/p.html"
                                    << "http://127.0.0.1:8080/x.png";
    QTest::addRow("protocol-relative takes the base scheme") << "//cdn.org/x.png"
                                                             << "https://host.org/"
                                                             << "https://cdn.org/x.png";
    QTest::addRow("protocol-relative without base")
        << "//cdn.org/x.png" << QString() << "http://cdn.org/x.png";
    QTest::addRow("looks like http but is relative")
        << "http_img/a.png" << page << "http://host.org/dir/http_img/a.png";
    QTest::addRow("relative without base") << "img/x.png" << QString() << "img/x.png";
    QTest::addRow("data address stays")
        << "data:image/png;base64,AAAA" << page << "data:image/png;base64,AAAA";
    QTest::addRow("decoded path of the base") << "x.png"
                                              << "http://host.org/a%20b/p.html"
                                              << "http://host.org/a b/x.png";
}

void tst_HtmlImageUrls::resolveUrl()
{
    QFETCH(QString, url);
    QFETCH(QString, base);
    QFETCH(QString, expected);
    QCOMPARE(HtmlImageUrls::resolveUrl(url, base), expected);
}

void tst_HtmlImageUrls::decodeEntities()
{
    QCOMPARE(HtmlImageUrls::decodeEntities(
                 QStringLiteral("\"a\" 'b' &lt;c&gt; d&amp;e &quot;f&quot;&#xA;")),
        QStringLiteral("a b <c> d&e f"));
    // Replacements run once, in order: "&amp;lt;" becomes "&lt;", not "<".
    QCOMPARE(HtmlImageUrls::decodeEntities(QStringLiteral("&amp;lt;")), QStringLiteral("&lt;"));
}

void tst_HtmlImageUrls::firstImageUrl_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("expected");

    QTest::addRow("well-formed")
        << R"x(<html><body><img src="a.png"/><img src="b.png"/></body></html>)x"
        << "a.png";
    QTest::addRow("srcset only") << R"x(<div><img srcset="big.png 2x, small.png 1x"/></div>)x"
                                 << "big.png";
    QTest::addRow("no image") << "<div>text</div>" << QString();
    QTest::addRow("browser clipboard, not XML")
        << R"x(<meta charset="utf-8"><img alt="x" src="https://a.org/p.jpg">)x"
        << "https://a.org/p.jpg";
    QTest::addRow("not XML, srcset") << R"x(<br><img srcset="s.png 1x">)x"
                                     << "s.png";
}

void tst_HtmlImageUrls::firstImageUrl()
{
    QFETCH(QString, html);
    QFETCH(QString, expected);
    QCOMPARE(HtmlImageUrls::firstImageUrl(html), expected);
}

void tst_HtmlImageUrls::isFetchable_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("fetchable");

    QTest::addRow("http") << "http://a.org/x.png" << true;
    QTest::addRow("https in capitals") << "HTTPS://a.org/x.png" << true;
    QTest::addRow("file") << "file:///etc/passwd" << false;
    QTest::addRow("data") << "data:image/png;base64,AAAA" << false;
    QTest::addRow("relative that starts with http") << "http_img/a.png" << false;
    QTest::addRow("ftp") << "ftp://a.org/x.png" << false;
}

void tst_HtmlImageUrls::isFetchable()
{
    QFETCH(QString, url);
    QFETCH(bool, fetchable);
    QCOMPARE(HtmlImageUrls::isFetchable(url), fetchable);
}

QTEST_GUILESS_MAIN(tst_HtmlImageUrls)
#include "tst_htmlimageurls.moc"
