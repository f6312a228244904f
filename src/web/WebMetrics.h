#pragma once
// /metrics: the service's own metrics, live from the station's view, written by the report's
// Prometheus writer; then the report's metrics of the 24 hours up to the latest test, as
// `chantest-report --format prometheus` writes them.

#include "StationBridge.h"

#include <QByteArray>

namespace web {

struct WebCounters {
    quint64 loginFailures = 0;
};

QByteArray LiveMetrics(const StationView& view, const WebCounters& web);

} // namespace web
