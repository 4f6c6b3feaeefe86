function stop = show_progress(q, info, state, stage)
% SHOW_PROGRESS  Prints the optimiser's progress every few iterations.
%   Used as fminsearch's OutputFcn; Q is converted back to the movement's
%   parameters with the stage's starting point and scale.

stop = false;
if strcmp(state, 'iter') && mod(info.iteration, stage.every) == 0
    p = stage.p0 + stage.scale .* (q(:)' - stage.q0(:)');
    fprintf('    iteration %3d, %4d histograms, NMI %.5f, [%s]\n', info.iteration, ...
            info.funccount, -info.fval, sprintf(' %6.2f', p));
end
