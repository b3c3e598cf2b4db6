#pragma once

#include <QProxyStyle>

// The application style: the platform style with a place to override single style hints.
// It overrides none yet; every hint is the platform style's own.
class ProxyOverrideStyle : public QProxyStyle {
    Q_OBJECT

public:
    using QProxyStyle::QProxyStyle;

    int styleHint(StyleHint hint, const QStyleOption *option = nullptr,
        const QWidget *widget = nullptr, QStyleHintReturn *returnData = nullptr) const override;
};
