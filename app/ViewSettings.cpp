#include "app/ViewSettings.h"

int ZoomInTenths(int tenths) { return tenths < kZoomMaxTenths ? tenths + 1 : tenths; }

int ZoomOutTenths(int tenths) { return tenths > kZoomMinTenths ? tenths - 1 : tenths; }

QString ZoomText(int tenths) { return QStringLiteral("%1%").arg(tenths * 10); }

QStringList PeriodListEntries() {
  return {QStringLiteral("pause"), QStringLiteral("0.5s"), QStringLiteral("1s"), QStringLiteral("2s"),
          QStringLiteral("3s"),    QStringLiteral("4s"),   QStringLiteral("5s"), QStringLiteral("6s"),
          QStringLiteral("7s"),    QStringLiteral("8s"),   QStringLiteral("9s"), QStringLiteral("10s")};
}

double ParsePeriod(const QString& text) {
  if (text == QLatin1String("pause")) return 0;
  if (text == QLatin1String("0.5s")) return 0.5;
  double value = 0;
  for (QChar ch : text) {
    if (!ch.isDigit() || ch.unicode() > '9') break;
    value = value * 10 + (ch.unicode() - '0');
  }
  return value;
}
