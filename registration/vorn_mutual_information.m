function [mi, nmi] = vorn_mutual_information(H, smooth)
%VORN_MUTUAL_INFORMATION  Mutual information of a joint histogram.
%
%   [MI, NMI] = vorn_mutual_information(H)
%   [MI, NMI] = vorn_mutual_information(H, SMOOTH)
%
%   H is a joint histogram, such as the 256x256 matrix of vorn_hist2 (rows:
%   volume 2's values, columns: volume 1's). With A and B the two
%   marginals and E(.) the entropy in nats:
%     MI  = E(A) + E(B) - E(A,B)     0 for independent values, larger the
%                                    better one volume predicts the other
%     NMI = (E(A) + E(B)) / E(A,B)   1 for independent values, at most 2;
%                                    it depends less on how much of the
%                                    two volumes overlaps, which suits
%                                    registration better
%   When SMOOTH is true, H is first smoothed along both axes with the
%   binomial kernel [1 4 6 4 1]/16: a few thousand samples spread over
%   65536 bins give a ragged estimate, and smoothing makes the measure
%   change smoothly with the movement. Default false.
%
%   An empty histogram gives MI 0 and NMI NaN, and so does one whose
%   weight lies in a single bin (both entropies are then 0).
%
%   Example
%     H = vorn_hist2(vol1, vol2, M, [2 2 2]);
%     [mi, nmi] = vorn_mutual_information(H, true);
%
%   See also vorn_hist2, vorn_register_rigid.

if nargin < 2
  smooth = false;
end
if ~isnumeric(H) || ~ismatrix(H) || any(~isfinite(H(:))) || any(H(:) < 0)
  error('vorn_mutual_information:histogram', 'H must be a matrix of finite, non-negative weights.');
end
H = double(H);
if smooth
  k = [1 4 6 4 1] / 16;
  H = conv2(k, k, H, 'same');
end
total = sum(H(:));
if total <= 0
  mi = 0;
  nmi = NaN;
  return;
end
p = H / total;
ea = entropy_of(sum(p, 1));
eb = entropy_of(sum(p, 2));
eab = entropy_of(p);
mi = max(ea + eb - eab, 0);
nmi = (ea + eb) / eab;
if eab == 0
  mi = 0;
  nmi = NaN;
end

function e = entropy_of(p)
p = p(p > 0);
e = -sum(p .* log(p));

% Tests for GNU Octave; MATLAB reads these lines as comments.
%!test
%! % One volume's value tells nothing of the other's: MI 0, NMI 1.
%! [mi, nmi] = vorn_mutual_information([1; 2; 3; 4] * [5 1 2]);
%! assert(mi, 0, 1e-12);
%! assert(nmi, 1, 1e-12);
%!test
%! % One value fixes the other: MI is either entropy, NMI 2.
%! [mi, nmi] = vorn_mutual_information(diag([1 1 2]));
%! assert(mi, 1.5 * log(2), 1e-12);
%! assert(nmi, 2, 1e-12);
%!test
%! % Weights [1 1; 0 2], by hand: column marginal [1/4 3/4], so
%! % E(A) = 2 log 2 - (3/4) log 3; row marginal [1/2 1/2], E(B) = log 2;
%! % joint [1/4 1/4 1/2], E(A,B) = 1.5 log 2.
%! [mi, nmi] = vorn_mutual_information([1 1; 0 2]);
%! ea = 2 * log(2) - 0.75 * log(3);
%! assert(mi, ea + log(2) - 1.5 * log(2), 1e-12);
%! assert(nmi, (ea + log(2)) / (1.5 * log(2)), 1e-12);
%!test
%! % Scale does not matter, smoothing spreads but keeps the weight.
%! H = zeros(256);
%! H(40:60, 100:110) = 3;
%! H(200, 20) = 50;
%! [mi1, nmi1] = vorn_mutual_information(H);
%! [mi2, nmi2] = vorn_mutual_information(7 * H);
%! assert([mi1 nmi1], [mi2 nmi2], 1e-12);
%! [mi3, nmi3] = vorn_mutual_information(H, true);
%! assert(mi3 < mi1 && nmi3 < nmi1 && nmi3 > 1);
%!test
%! [mi, nmi] = vorn_mutual_information(zeros(256));
%! assert(mi, 0);
%! assert(isnan(nmi));
%! [mi, nmi] = vorn_mutual_information([0 0; 0 5]);
%! assert(mi, 0);
%! assert(isnan(nmi));
%!error <non-negative> vorn_mutual_information([1 -1; 0 2])
%!error <non-negative> vorn_mutual_information([1 NaN; 0 2])
%!error <non-negative> vorn_mutual_information(ones(2, 2, 2))
