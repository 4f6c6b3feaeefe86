function c = registration_cost(q, vol1, vol2, dims, skips, stage)
% REGISTRATION_COST  Negative normalised mutual information of a movement.
%   The optimiser works on Q, the parameters measured from the stage's
%   starting point STAGE.P0 in units of STAGE.SCALE (one per parameter),
%   less the optimiser's own start STAGE.Q0, so that its first simplex has
%   the size the stage asks for. The joint histogram comes from vorn_hist2,
%   sampling VOL1 every SKIPS voxels.

p = stage.p0 + stage.scale .* (q - stage.q0);
M = rigid_matrix(p, dims);
H = vorn_hist2(vol1, vol2, M, skips);
c = -nmi_from_hist(H);
