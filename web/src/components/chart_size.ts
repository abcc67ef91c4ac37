// The width the server draws a result's charts at. Charts are drawn in
// units and scaled to their box on screen; their smallest text (category
// labels crowded into two rows) is 8 units tall, so a box narrower than the
// usual 360 units would shrink it below 11 CSS px: the chart is drawn
// narrower instead and scaled up to its box. The server draws no narrower
// than 200 units, which keeps that text at 11 px in a box of 275 px or more.

const usualUnits = 360;
const fewestUnits = 200;
const labelUnits = 8;
const leastLabelPx = 11;

// The CSS width of one chart box on a page `viewport` px wide: one column of
// charts on a phone, two on a wider screen (the result screen's grid).
export function chartBoxWidth(viewport: number, wide: boolean): number {
  const body = Math.min(viewport, 1100 + 32) - 32; // the result body's padding and widest layout
  const box = wide ? (body - 12) / 2 : body; // the charts' gap
  return box - 18; // the chart's padding and border
}

// The drawing width that keeps the labels at least 11 px in a box this wide.
export function chartUnits(box: number): number {
  return Math.max(fewestUnits, Math.min(usualUnits, Math.floor((box * labelUnits) / leastLabelPx)));
}
