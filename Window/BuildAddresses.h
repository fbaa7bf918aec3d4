// Addresses fixed per executable build: the analytics collector, and the
// carousel API origin where a build names its own (the demo build points
// both at its local servers).
#pragma once

const wchar_t* AnalyticsCollectUrl();
// Empty when the build keeps the product's carousel origin.
const wchar_t* CarouselApiOriginOverride();
