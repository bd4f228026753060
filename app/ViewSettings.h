// The pin view's zoom steps and refresh periods.
#pragma once

#include <QString>
#include <QStringList>

// Zoom is kept in tenths (8..20 = 80 %..200 %) so that repeated steps never
// drift past the limits.
constexpr int kZoomMinTenths = 8;
constexpr int kZoomMaxTenths = 20;

// One "+" step: up by a tenth, never beyond 200 %.
int ZoomInTenths(int tenths);
// One "-" step: down by a tenth, never below 80 %.
int ZoomOutTenths(int tenths);
// The zoom label text, e.g. "110%".
QString ZoomText(int tenths);

// Entries of the period list, in order; entry 1 ("0.5s") is the default.
QStringList PeriodListEntries();
// Seconds of a period entry: "pause" 0, "0.5s" 0.5, else the unsigned
// decimal number at the start of the text ("10s" 10, text without digits 0).
double ParsePeriod(const QString& text);
