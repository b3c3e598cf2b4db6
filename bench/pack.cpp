// Optimal packing (arrange mode 7) of boards of mixed pictures: photographs in both orientations,
// screenshots, small icons and long strips, some of them scaled, all on one scene.
//
//   bench_pack [seconds]     (default 0.5: the least time spent on each size)
//
// Each size is packed again and again on fresh boards and the fastest run counts: the machine's
// other work only ever adds time, and a millisecond-long run is easily disturbed.
//
// Figures: pack_1000_seconds = time to construct, finish and push the command for 1000 items;
// pack_growth_max = the largest ratio of times between consecutive sizes (250, 500, 1000, 2000),
// which stays near 2 when the cost grows linearly.

#include "commands/aligncommand.h"
#include "commands/commandhandler.h"
#include "scene/graphicsitem.h"
#include "scene/graphicsscene.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <random>

namespace {

class BoxItem : public GraphicsItem {
public:
    explicit BoxItem(const QSizeF &size)
        : GraphicsItem(QPointF())
        , m_rect(-size.width() / 2, -size.height() / 2, size.width(), size.height())
    {
    }
    QRectF boundingRect() const override { return m_rect; }
    void paint(QPainter *, const QStyleOptionGraphicsItem *, QWidget *) override { }

private:
    QRectF m_rect;
};

QSizeF pictureSize(std::mt19937 &random)
{
    std::uniform_real_distribution<double> unit(0, 1);
    const double kind = unit(random);
    const double base = 150 + unit(random) * 1500;
    if (kind < 0.35)
        return QSizeF(std::round(base), std::round(base * 0.75)); // landscape photo
    if (kind < 0.6)
        return QSizeF(std::round(base * 0.75), std::round(base)); // portrait photo
    if (kind < 0.8)
        return QSizeF(std::round(base * 1.2), std::round(base * 1.2 * 9 / 16)); // screenshot
    if (kind < 0.92)
        return QSizeF(16 + std::round(unit(random) * 112), 16 + std::round(unit(random) * 112));
    return QSizeF(std::round(base * 2), 20 + std::round(unit(random) * 60)); // strip
}

struct Result {
    double seconds;
    int unplaced;
    QRectF extent;
};

Result packOnce(int count)
{
    CommandHandler handler;
    GraphicsScene scene(nullptr, &handler);
    std::mt19937 random(20261206u + unsigned(count));
    std::uniform_real_distribution<double> spread(-20000, 20000);
    std::uniform_real_distribution<double> unit(0, 1);
    QList<GraphicsItem *> items;
    for (int i = 0; i < count; ++i) {
        auto *item = new BoxItem(pictureSize(random));
        const double scale = unit(random) < 0.2 ? 0.25 + unit(random) * 2 : 1.0;
        item->setLocalTransform(
            QTransform(scale, 0, 0, scale, std::round(spread(random)), std::round(spread(random))));
        items.append(item);
    }
    scene.addItems(items);

    QElapsedTimer timer;
    timer.start();
    auto *command = new AlignCommand(items, AlignCommand::Pack, 10, 16.0f / 9.0f);
    command->finish();
    const int unplaced = command->unplacedCount();
    handler.push(command);
    const double seconds = timer.nsecsElapsed() / 1e9;

    QRectF extent;
    for (GraphicsItem *item : qAsConst(items))
        extent |= item->sceneBounds();
    return { seconds, unplaced, extent };
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const double budget = argc > 1 ? std::max(0.0, atof(argv[1])) : 0.5;

    const int sizes[] = { 250, 500, 1000, 2000 };
    QVector<double> fastestTimes;
    for (int count : sizes) {
        Result result {};
        double fastest = std::numeric_limits<double>::infinity();
        QElapsedTimer spent;
        spent.start();
        int runs = 0;
        while (runs < 5 || (spent.nsecsElapsed() < budget * 1e9 && runs < 200)) {
            result = packOnce(count);
            fastest = std::min(fastest, result.seconds);
            ++runs;
        }
        fastestTimes.append(fastest);
        std::printf("%d items: %.5f s (fastest of %d), %d unplaced, block %.0f x %.0f\n", count,
            fastest, runs, result.unplaced, result.extent.width(), result.extent.height());
    }
    double growth = 0;
    for (int i = 1; i < fastestTimes.size(); ++i) {
        growth = std::max(growth, fastestTimes.at(i) / fastestTimes.at(i - 1));
        std::printf("growth %d -> %d: %.2f\n", sizes[i - 1], sizes[i],
            fastestTimes.at(i) / fastestTimes.at(i - 1));
    }
    std::printf("figure pack_1000_seconds %.4f\n", fastestTimes.at(2));
    std::printf("figure pack_growth_max %.2f\n", growth);
    return 0;
}
