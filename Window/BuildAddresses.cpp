#include "Window/BuildAddresses.h"

#include "log/Log.h"

#ifndef ZV_ANALYTICS_URL
// The product's collection endpoint.
#define ZV_ANALYTICS_URL \
  "https://analytics.zelvane.example/mp/collect?measurement_id=G-Q7WZ2MLX4P&api_secret=Zr4pXw9LqT2vNc8bYh6Jsk"
#endif

#ifndef ZV_CAROUSEL_ORIGIN
#define ZV_CAROUSEL_ORIGIN ""
#endif

const wchar_t* AnalyticsCollectUrl() { return ZV_WIDEN(ZV_ANALYTICS_URL); }

const wchar_t* CarouselApiOriginOverride() { return ZV_WIDEN(ZV_CAROUSEL_ORIGIN); }
