#pragma once

// The sizes the title view is laid out from, all in pixels.
struct TitleSizes
{
    int clientWidth = 0;
    int clientHeight = 0;
    int headerHeight = 0; // Panel3
    int pictureWidth = 0; // Image1
    int pictureHeight = 0;
    int aboutWidth = 0; // re_title
    int aboutTop = 0;
    int aboutHeight = 0;
    int barWidth = 0; // Shape4
};

// Where the parts of the title view go. re_title keeps its top.
struct TitlePlacement
{
    int aboutLeft = 0;
    int barLeft = 0;
    int barTop = 0;
    int barHeight = 0;
    int pictureLeft = 0;
    int pictureTop = 0;
};

// Centres about pane, bar and picture, with 7-pixel gaps, as one group across the client width
// (integer division toward zero, so a window narrower than the group gives a negative left edge);
// the bar runs from the header down to the bottom (never a negative height), and the picture's
// bottom lines up with the pane's.
constexpr TitlePlacement placeTitleView(const TitleSizes &sizes)
{
    constexpr int gap = 7;
    TitlePlacement place;
    const int groupWidth = sizes.aboutWidth + gap + sizes.barWidth + gap + sizes.pictureWidth;
    place.aboutLeft = (sizes.clientWidth - groupWidth) / 2;
    place.barLeft = place.aboutLeft + sizes.aboutWidth + gap;
    place.barTop = sizes.headerHeight;
    place.barHeight =
        sizes.clientHeight > sizes.headerHeight ? sizes.clientHeight - sizes.headerHeight : 0;
    place.pictureLeft = place.barLeft + sizes.barWidth + gap;
    place.pictureTop = sizes.aboutTop + sizes.aboutHeight - sizes.pictureHeight;
    return place;
}
