function check_picture(file)
% Checks the demo's picture: an 8-bit RGB PNG of four 256x256 panels laid
% out as picture_layout says. Registration concentrates the joint
% histogram (fewer lit pixels after than before), and the slice overlay
% after shares more information between volume 1 (red) and the resampled
% volume 2 (green) than before. Every heading, caption and axis label has
% ink where it belongs, and the margins hold nothing else.
L = picture_layout();
info = imfinfo(file);
assert(strcmpi(info.Format, 'png'), 'not a PNG');
assert(info.Width == L.width && info.Height == L.height, 'picture is %dx%d', info.Width, info.Height);
img = imread(file);
assert(isa(img, 'uint8') && isequal(size(img), [L.height L.width 3]), 'not 8-bit RGB');

panel = @(r, c) double(img(L.row(r) + (0:L.side - 1), L.col(c) + (0:L.side - 1), :));
lit = @(p) nnz(p(:, :, 1) > 64);
lit_before = lit(panel(1, 1));
lit_after = lit(panel(1, 2));
fprintf('joint histogram: %d lit pixels before, %d after\n', lit_before, lit_after);
assert(lit_after > 0 && lit_after < 0.8 * lit_before, 'histogram did not sharpen');

mi_before = overlay_mi(panel(2, 1));
mi_after = overlay_mi(panel(2, 2));
fprintf('slice overlay: mutual information %.3f before, %.3f after\n', mi_before, mi_after);
assert(mi_after > 1.2 * mi_before, 'overlay did not improve');

% Labels: black ink in each text band, and only black or white outside
% the panels.
ink = all(img < 40, 3);
blank = all(img > 215, 3) | ink;
in_panels = false(L.height, L.width);
for r = 1:2
    for c = 1:2
        in_panels(L.row(r) + (0:L.side - 1), L.col(c) + (0:L.side - 1)) = true;
    end
end
assert(all(blank(~in_panels)), 'the margins hold more than black text on white');
band = @(rows, cols) nnz(ink(rows, cols));
text_rows = @(row, lines) row + (0:lines * L.line - 1);
for c = 1:2
    cols = L.col(c) + (0:L.side - 1);
    bands = [band(text_rows(L.heading_row, 1), cols), ...
             band(text_rows(L.caption_row(1), 2), cols), ...
             band(text_rows(L.caption_row(2), 3), cols), ...
             band(L.row(1) + (0:L.side - 1), L.col(c) - L.axis_label + (0:L.axis_label - 1))];
    fprintf('column %d: ink in heading %d, captions %d and %d, axis label %d pixels\n', c, bands);
    assert(all(bands > 150), 'a label is missing in column %d', c);
end
end

function mi = overlay_mi(p)
% Mutual information of the red and green channels, in 32 bins each.
a = floor(p(:, :, 1) / 8) + 1;
b = floor(p(:, :, 2) / 8) + 1;
h = accumarray([a(:), b(:)], 1, [32 32]);
h = h / sum(h(:));
ha = sum(h, 2);
hb = sum(h, 1);
q = h > 0;
outer = ha * hb;
mi = sum(h(q) .* log(h(q) ./ outer(q)));
end
