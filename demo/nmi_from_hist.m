function nmi = nmi_from_hist(H)
% NMI_FROM_HIST  Normalised mutual information of a joint histogram.
%   NMI = NMI_FROM_HIST(H) is (H(A) + H(B)) / H(A,B) for the joint
%   histogram H (rows: one image's bins, columns: the other's): 1 when the
%   two images are independent, larger the better one predicts the other.
%   The histogram is first smoothed with a small binomial kernel: a few
%   thousand samples spread over 65536 bins give a ragged estimate, and
%   the smoothing makes the measure vary smoothly with the movement.

k = [1 4 6 4 1] / 16;
H = conv2(k, k, H, 'same');
p = H / sum(H(:));
pa = sum(p, 1);
pb = sum(p, 2);
nmi = (entropy_of(pa) + entropy_of(pb)) / entropy_of(p);

function h = entropy_of(p)
p = p(p > 0);
h = -sum(p .* log(p));
