#include "widgets/RoundProgressView.h"

#include <cmath>

#include "platform/ui/GraphicsContext.h"

using platform::Color;
using platform::GraphicsContext;
using platform::Rect;

RoundProgressView::RoundProgressView() : RoundProgressView(Rect{0, 0, 37, 37}) {}

RoundProgressView::RoundProgressView(const Rect& frame) : View(frame) {
  setOpaque(false);
  setBackgroundColor(Color::clearColor());
}

void RoundProgressView::setProgress(double progress) {
  _progress = progress;
  setNeedsDisplay();
}

void RoundProgressView::setAnnular(bool annular) {
  _annular = annular;
  setNeedsDisplay();
}

void RoundProgressView::setProgressTintColor(Color color) {
  _progressTintColor = color;
  setNeedsDisplay();
}

void RoundProgressView::setBackgroundTintColor(Color color) {
  _backgroundTintColor = color;
  setNeedsDisplay();
}

void RoundProgressView::drawRect(GraphicsContext& context, const Rect&) {
  Rect b = bounds();
  double start = -M_PI / 2;
  double end = _progress * 2 * M_PI - M_PI / 2;
  if (_annular) {
    double width = 5;
    double radius = (b.width() - width) / 2;
    context.setLineWidth(width);
    context.setLineCap(GraphicsContext::LineCap::Round);
    context.setStrokeColor(_backgroundTintColor);
    context.beginPath();
    context.addArc(b.midX(), b.midY(), radius, start, 3 * M_PI / 2, 0);
    context.strokePath();
    context.setStrokeColor(_progressTintColor);
    context.beginPath();
    context.addArc(b.midX(), b.midY(), radius, start, end, 0);
    context.strokePath();
    return;
  }
  Rect circle = b.insetBy(2, 2);
  context.setLineWidth(2);
  context.setFillColor(_backgroundTintColor);
  context.fillEllipse(circle);
  context.setStrokeColor(_progressTintColor);
  context.beginPath();
  context.addEllipse(circle);
  context.strokePath();
  // The wedge, drawn with the platform's arc flag 0: clockwise on screen from twelve o'clock.
  context.setFillColor(Color::whiteColor());
  context.beginPath();
  context.moveTo(b.width() / 2, b.height() / 2);
  context.addArc(b.width() / 2, b.height() / 2, (b.width() - 4) / 2, start, end, 0);
  context.closePath();
  context.fillPath();
}
