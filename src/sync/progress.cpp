#include "sync/engine.h"

#include <cmath>

namespace tarvelo::sync {

namespace {

// Offsets of the five bars for each second of the clock, so the bars move unevenly.
constexpr int kOffsets[60][5] = {
    {0, 0, 0, 0, 0},         {100, 200, 50, 100, 0}, {0, 50, 100, 0, 100},   {100, 0, 50, 0, 200},
    {0, 200, 0, 0, 50},      {100, 0, 100, 100, 0},  {0, 0, 0, 0, 0},        {100, 200, 0, 0, 100},
    {0, 50, 100, 0, 0},      {100, 0, 0, 100, 50},   {0, 200, 50, 0, 100},   {100, 0, 100, 0, 50},
    {0, 0, 0, 0, 100},       {100, 200, 100, 100, 0}, {0, 0, 0, 0, 50},      {100, 0, 0, 0, 0},
    {0, 200, 100, 0, 50},    {100, 0, 0, 100, 100},  {0, 0, 0, 0, 50},       {100, 200, 100, 0, 0},
    {0, 0, 0, 0, 50},        {100, 0, 0, 100, 0},    {0, 200, 100, 0, 100},  {100, 0, 0, 0, 50},
    {0, 0, 0, 0, 0},         {100, 200, 100, 100, 0}, {0, 0, 0, 0, 50},      {100, 0, 0, 0, 100},
    {0, 200, 100, 0, 0},     {100, 0, 0, 100, 50},   {0, 0, 0, 0, 0},        {100, 200, 100, 0, 0},
    {0, 0, 0, 0, 100},       {100, 0, 0, 100, 50},   {0, 200, 100, 0, 0},    {100, 0, 0, 0, 50},
    {0, 0, 0, 0, 0},         {100, 200, 100, 100, 100}, {0, 50, 0, 0, 50},   {100, 0, 0, 50, 0},
    {0, 200, 100, 0, 50},    {100, 50, 0, 100, 0},   {50, 0, 50, 0, 100},    {100, 200, 100, 0, 50},
    {50, 0, 0, 50, 0},       {100, 0, 0, 100, 50},   {50, 200, 100, 0, 0},   {100, 0, 50, 0, 100},
    {0, 50, 0, 0, 50},       {100, 200, 100, 100, 0}, {0, 0, 50, 0, 50},     {100, 0, 0, 50, 0},
    {0, 200, 100, 0, 100},   {100, 50, 0, 100, 0},   {0, 50, 0, 50, 0},      {100, 200, 100, 0, 0},
    {50, 0, 0, 0, 50},       {100, 0, 0, 100, 100},  {0, 200, 100, 0, 0},    {100, 0, 0, 0, 0},
};

}  // namespace

void Reset_Progress(SyncContext& ctx)
{
    for (int k = 0; k < ProgressModel::Bars; ++k)
        ctx.window.LabD.setBarWidth(k, 0);
    for (int k = 0; k < ProgressModel::Bars; ++k)
        ctx.window.LabD.setMarkerLeft(k, -50);
}

void Show_Progress(SyncContext& ctx, qint16 index)
{
    const int second = ctx.now().time().second();
    const int* o = kOffsets[second % 60];
    if (ctx.tables.Tab_Count == 0)
        return;
    for (int k = 0; k < ProgressModel::Bars; ++k) {
        // Single precision, as text and back: seven significant digits.
        const float raw = float(ctx.window.LabD.windowWidth()) / float(ctx.tables.Tab_Count);
        const double step = QString::number(raw, 'g', 7).toDouble();
        const double end = step * index + o[k];
        ctx.window.LabD.setBarWidth(k, int(std::lround(end)));
        ctx.window.LabD.setMarkerLeft(k, int(std::lround(end - 100)));
    }
}

}  // namespace tarvelo::sync
