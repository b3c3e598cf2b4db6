#pragma once

// Limits every canvas item keeps, wherever it was made: the scene's own items, and the readers
// that turn other programs' files into records before any item exists. A header of constants
// only, so that those readers need not know the item classes.
struct ItemLimits {
    // Bounds of an axis length, in scene units per item unit. The lower bound is the
    // single-precision value of 1e-6 because the scene file stores it that way.
    static constexpr double MaximumScale = 2147483.0;
    static constexpr double MinimumScale = double(1e-6f);
    // A crop region no wider or higher than this is refused.
    static constexpr double MinimumCropExtent = 1.0;
    // The bits of an image's filter, as the scene file stores them.
    enum Filter { SmoothFilter = 1, GrayscaleFilter = 2 };
};
