function check_picture(file)
% Checks the demo's picture: a 536x536 8-bit RGB PNG of four 256x256
% panels. Registration concentrates the joint histogram (fewer lit pixels
% after than before), and the slice overlay after shares more information
% between volume 1 (red) and the resampled volume 2 (green) than before.
info = imfinfo(file);
assert(strcmpi(info.Format, 'png'), 'not a PNG');
assert(info.Width == 536 && info.Height == 536, 'picture is %dx%d', info.Width, info.Height);
img = imread(file);
assert(isa(img, 'uint8') && isequal(size(img), [536 536 3]), 'not 8-bit RGB');

panel = @(r, c) double(img(8 + (r - 1) * 264 + (1:256), 8 + (c - 1) * 264 + (1:256), :));
lit = @(p) nnz(p(:, :, 1) > 64);
lit_before = lit(panel(1, 1));
lit_after = lit(panel(1, 2));
fprintf('joint histogram: %d lit pixels before, %d after\n', lit_before, lit_after);
assert(lit_after > 0 && lit_after < 0.8 * lit_before, 'histogram did not sharpen');

mi_before = overlay_mi(panel(2, 1));
mi_after = overlay_mi(panel(2, 2));
fprintf('slice overlay: mutual information %.3f before, %.3f after\n', mi_before, mi_after);
assert(mi_after > 1.2 * mi_before, 'overlay did not improve');
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
