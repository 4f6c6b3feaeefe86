function img = demo_picture(H_before, H_after, vol1, vol2, M_before, M_after, k)
% DEMO_PICTURE  One labelled RGB image of a registration, before and after.
%   Left column before registration, right column after. Top row: the
%   joint histograms (log scale, volume 1's value across, volume 2's
%   upwards). Bottom row: slice K of volume 1 in magenta with volume 2
%   resampled onto it in green: where the volumes line up every part shows
%   one even colour, where they do not its edges show magenta and green
%   fringes. Every panel is 256x256 pixels (the slice stretched to fill
%   it); each column has a heading, each panel captions below it, and the
%   histograms name their upward axis on their left. The layout is that of
%   picture_layout.

L = picture_layout();
img = ones(L.height, L.width, 3);
panels = {hist_panel(H_before), hist_panel(H_after); ...
          overlay_panel(vol1, vol2, M_before, k, L.side), ...
          overlay_panel(vol1, vol2, M_after, k, L.side)};
headings = {'Before registration', 'After registration'};
captions = {'volume 1 value ->', 'joint histogram (log)', ''; ...
            sprintf('slice %d of volume 1', k), 'magenta: volume 1', 'green: volume 2'};
for c = 1:2
    img = draw_text(img, headings{c}, L.heading_row, L.col(c), L.scale);
    for r = 1:2
        img(L.row(r) + (0:L.side - 1), L.col(c) + (0:L.side - 1), :) = panels{r, c};
        for n = 1:L.caption_lines
            img = draw_text(img, captions{r, n}, L.caption_row(r) + (n - 1) * L.line, ...
                            L.col(c), L.scale);
        end
    end
    upward = 'volume 2 value ->';
    img = draw_text(img, upward, L.row(1) + L.side - 6 * L.scale * numel(upward), ...
                    L.col(c) - L.axis_label, L.scale, true);
end
img = uint8(round(255 * img));

function rgb = hist_panel(H)
% log(1 + count) scaled to the largest value, through a black-red-yellow
% -white colour scale; low intensities at the bottom left.
L = log(1 + flipud(H));
L = L / max(L(:));
idx = 1 + round(255 * L);
map = hot(256);
rgb = zeros(256, 256, 3);
for ch = 1:3
    rgb(:, :, ch) = reshape(map(idx, ch), 256, 256);
end

function rgb = overlay_panel(vol1, vol2, M, k, side)
% Volume 2 sampled at M*x for the voxels x of volume 1's slice K, blown up
% (nearest neighbour) to SIDE x SIDE pixels.
d = size(vol1);
[x1, x2] = ndgrid(1:d(1), 1:d(2));
x3 = k * ones(size(x1));
y = M(1:3, :) * [x1(:)'; x2(:)'; x3(:)'; ones(1, numel(x1))];
% interp3 takes the second axis first (its X runs along columns).
a = reshape(interp3(double(vol2), y(2, :), y(1, :), y(3, :), 'linear', 0), d(1), d(2));
b = double(vol1(:, :, k));
rows = ceil((1:side) * d(1) / side);
cols = ceil((1:side) * d(2) / side);
a = a(rows, cols) / 255;
b = b(rows, cols) / 255;
rgb = cat(3, b, a, b);
