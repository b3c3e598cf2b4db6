#include "commands/guillotinebinpacker.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <random>

namespace {

// The packer written out literally: a linear scan for the fit and the pairwise merge pass after
// every insertion. The real one must make exactly the same choices, faster.
class LiteralPacker {
public:
    LiteralPacker(double width, double height) { m_free.append(QRectF(0, 0, width, height)); }

    bool insert(double w, double h, QRectF *placed, GuillotineBinPacker::Shortfall *shortfall)
    {
        const double none = std::numeric_limits<double>::infinity();
        int best = -1;
        double bestScore = none, widthShort = none, heightShort = none;
        for (int i = 0; i < m_free.size(); ++i) {
            const QRectF &f = m_free[i];
            if (f.width() == w && f.height() == h) {
                best = i;
                break;
            }
            if (f.width() >= w && f.height() >= h) {
                const double score = std::min(f.width() - w, f.height() - h);
                if (score < bestScore) {
                    bestScore = score;
                    best = i;
                }
            } else {
                if (w - f.width() > 0)
                    widthShort = std::min(widthShort, w - f.width());
                if (h - f.height() > 0)
                    heightShort = std::min(heightShort, h - f.height());
            }
        }
        *placed = QRectF(0, 0, 0, 0);
        if (best < 0) {
            shortfall->width = heightShort > widthShort;
            shortfall->amount = std::min(widthShort, heightShort);
            return false;
        }
        const QRectF f = m_free.takeAt(best);
        const bool horizontal = w * (f.height() - h) > (f.width() - w) * h;
        const QRectF bottom(f.x(), f.y() + h, horizontal ? f.width() : w, f.height() - h);
        const QRectF right(f.x() + w, f.y(), f.width() - w, horizontal ? h : f.height());
        for (const QRectF &part : { bottom, right }) {
            if (part.width() > 0 && part.height() > 0)
                m_free.append(part);
        }
        merge();
        *placed = QRectF(f.x(), f.y(), w, h);
        return true;
    }

    QVector<QRectF> freeRectangles() const { return m_free; }

private:
    void merge()
    {
        for (int i = 0; i < m_free.size(); ++i) {
            for (int j = i + 1; j < m_free.size(); ++j) {
                QRectF &a = m_free[i];
                const QRectF b = m_free[j];
                const double ax = a.x(), ay = a.y(), aw = a.width(), ah = a.height();
                const double bx = b.x(), by = b.y(), bw = b.width(), bh = b.height();
                if (aw == bw && ax == bx && (ay == by + bh || ay + ah == by)) {
                    a = QRectF(ax, ay == by + bh ? by : ay, aw, ah + bh);
                } else if (ah == bh && ay == by && (ax == bx + bw || ax + aw == bx)) {
                    a = QRectF(ax == bx + bw ? bx : ax, ay, aw + bw, ah);
                } else {
                    continue;
                }
                m_free.removeAt(j);
                --j;
            }
        }
    }

    QVector<QRectF> m_free;
};

bool identical(const QRectF &a, const QRectF &b)
{
    return a.x() == b.x() && a.y() == b.y() && a.width() == b.width() && a.height() == b.height();
}

} // namespace

class TestGuillotineBinPacker : public QObject {
    Q_OBJECT

private slots:
    void sameChoicesAsLiteralPacker_data();
    void sameChoicesAsLiteralPacker();
};

void TestGuillotineBinPacker::sameChoicesAsLiteralPacker_data()
{
    QTest::addColumn<int>("grain");
    QTest::addColumn<int>("largest");

    // Whole units of a few sizes line up often and merge a lot; fractions rarely do.
    QTest::addRow("few sizes, many merges") << 10 << 40;
    QTest::addRow("whole units") << 1 << 200;
    QTest::addRow("fractions") << 0 << 200;
}

void TestGuillotineBinPacker::sameChoicesAsLiteralPacker()
{
    QFETCH(int, grain);
    QFETCH(int, largest);

    for (unsigned seed = 1; seed <= 30; ++seed) {
        std::mt19937 random(seed);
        std::uniform_real_distribution<double> unit(0, 1);
        const auto size = [&] {
            const double v = 1 + unit(random) * largest;
            return grain > 0 ? std::ceil(v / grain) * grain : v;
        };
        // Room for about four fifths of the pieces, so the last ones fail.
        const double side = grain > 0 ? 10.0 * largest : 9.73 * largest;
        GuillotineBinPacker packer(side, side * 0.8);
        LiteralPacker literal(side, side * 0.8);
        for (int i = 0; i < 400; ++i) {
            const double w = size();
            const double h = size();
            QRectF at, literalAt;
            GuillotineBinPacker::Shortfall shortfall, literalShortfall;
            const bool placed = packer.insert(w, h, &at, &shortfall);
            const bool literalPlaced = literal.insert(w, h, &literalAt, &literalShortfall);
            const QString where = QString("seed %1, insertion %2").arg(seed).arg(i);
            QVERIFY2(placed == literalPlaced, qPrintable(where));
            QVERIFY2(identical(at, literalAt), qPrintable(where));
            if (!placed) {
                QVERIFY2(shortfall.width == literalShortfall.width, qPrintable(where));
                QVERIFY2(shortfall.amount == literalShortfall.amount, qPrintable(where));
            }
            const QVector<QRectF> free = packer.freeRectangles();
            const QVector<QRectF> literalFree = literal.freeRectangles();
            QVERIFY2(free.size() == literalFree.size(), qPrintable(where));
            for (int k = 0; k < free.size(); ++k)
                QVERIFY2(identical(free[k], literalFree[k]), qPrintable(where));
        }
    }
}

QTEST_GUILESS_MAIN(TestGuillotineBinPacker)
#include "tst_guillotinebinpacker.moc"
