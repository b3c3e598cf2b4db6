#pragma once

#include <QPointF>
#include <QRectF>
#include <QTransform>
#include <QWidget>

class QGraphicsOpacityEffect;
class QGraphicsView;
class QTimer;

// The frame with corner handles drawn over the selection. It only paints: it lets every mouse
// event through, and the view asks hitTest() which handle lies under the pointer.
//
// Coordinates: the rectangle is in the gizmo's own space (an item's coordinates for a single
// item, scene units centred on the origin for several); the gizmo transform maps that space into
// the scene, and the view's transform maps the scene onto the viewport. Handle sizes are screen
// pixels at every zoom. GUI thread only.
class TransformGizmo : public QWidget {
    Q_OBJECT

public:
    // 1 to 4 are the scale dots at the corners top-left, top-right, bottom-right, bottom-left
    // (in the gizmo's own space); 5 to 8 the rotation zones just outside the same corners.
    enum Handle { NoHandle = 0, FirstScaleHandle = 1, FirstRotateHandle = 5 };
    enum DisplayBits { OutlineBit = 1, HandlesBit = 2 };

    struct Hit {
        int handle = NoHandle;
        // Corner indices (0 to 3) around the hit corner, -1 with no hit.
        int previousCorner = -1;
        int nextCorner = -1;
    };

    explicit TransformGizmo(QGraphicsView *view);

    // An invalid rectangle hides the gizmo.
    void setGizmoGeometry(const QRectF &rect, const QTransform &transform);
    // Follows the view's zoom and scroll position.
    void updatePlacement();
    QRectF gizmoRect() const { return m_rect; }
    QTransform gizmoTransform() const { return m_transform; }
    // The transform from the gizmo's space to viewport pixels.
    QTransform toViewport() const;

    Hit hitTest(const QPointF &viewportPos);
    Hit lastHit() const { return m_lastHit; }
    // rect's corner in the order of the handles (0 top-left, clockwise).
    static QPointF corner(const QRectF &rect, int index);
    // What lies under viewportPos for a gizmo over rect shown through toViewport. The four
    // corners are tested in order; the nearest within twice the handle size wins, ties to the
    // earlier. Near the corner itself it is the scale dot; further out, but only diagonally off
    // the rectangle, it is the rotation zone.
    static Hit hitTest(const QRectF &rect, const QTransform &toViewport, const QPointF &viewportPos,
        int handleSize);

    int displayMode() const { return m_displayMode; }
    void setDisplayMode(int mode);
    // The stored setting counts "both" as 0; the bits are what painting uses.
    static int displayModeFromSetting(int value);
    int handleSize() const { return m_handleSize; }
    void setHandleSize(int size);
    bool fadesWhenInactive() const { return m_fadeWhenInactive; }
    void setFadeWhenInactive(bool fade) { m_fadeWhenInactive = fade; }
    void startFade();
    // Shows the gizmo at once again, after a fade started or ended.
    void stopFade();
    bool isFading() const;
    qreal opacity() const;

    // The cursor's turn in degrees for a handle at corner (0 to 3) of a gizmo with transform
    // t, and whether t mirrors (the picture is mirrored too, so the curved arrow still bends
    // round the corner).
    static qreal cursorAngle(const QTransform &t, int corner, bool *mirrored = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void fadeStep();

    QGraphicsView *m_view;
    QRectF m_rect;
    QTransform m_transform;
    Hit m_lastHit;
    int m_displayMode = OutlineBit | HandlesBit;
    int m_handleSize = 10;
    bool m_fadeWhenInactive = true;
    QGraphicsOpacityEffect *m_opacity;
    QTimer *m_fadeTimer;
    // Milliseconds the fade takes from full to none.
    int m_fadeDuration = 100;
};
