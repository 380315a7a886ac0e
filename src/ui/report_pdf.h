// The one-page report as PDF: an A4 page in Russian with the coefficients and the ratios as the
// window shows them, the response chart, the step characteristics, the closed-loop poles with
// the stability of the continuous loop and of the Euler iteration, the loop margins and the Bode
// diagram, drawn by the window's own chart code. Vector graphics, fonts embedded (Qt's PDF
// writer).
#pragma once

#include <QByteArray>
#include <QRectF>
#include <QStringList>

#include "analysis/report_data.h"
#include "ui/report_robust.h"

namespace pitch {

// The page is laid out in units of 1/96 inch (an A4 page is 793.7 x 1122.5 of them): where the
// response chart goes. The texts follow it in two columns, then the Bode diagram to the foot.
QRectF ReportResponseChartRect();

// The page's text lines in their order (without the texts inside the charts).
QStringList ReportTextLines(const ReportData& data);

// The PDF's bytes, with the flight envelope's section on a second page when there is one. Needs a
// QGuiApplication. Raises EPlotError when the page cannot be drawn; nothing is written anywhere,
// so a caller that writes the bytes afterwards keeps an existing file on failure.
QByteArray RenderReportPdf(const ReportData& data, const ReportRobustSection* robust = nullptr);

}  // namespace pitch
