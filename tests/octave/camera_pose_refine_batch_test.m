% camera_pose_refine_batch against a loop of camera_pose_refine: the same
% vectors and summaries for cell and 3-D inputs and every rotation code, the
% kernel solver's minimum, a bad frame kept to itself, the refusals of the whole
% call.

%!function [cams, P, obs] = frames (code, F, npts, seed)
%!  cams = []; P = {}; obs = {};
%!  for f = 1:F
%!    s = pose_refine_scene (code, npts, seed + f, 0.5 * ! any (code == [10, 11, 12]));
%!    cams(f, :) = s.camera0;
%!    cams(f, 1:end-3) += 0.01 * f;
%!    P{f} = s.points;
%!    obs{f} = s.obs;
%!  end
%!endfunction

%!function [X, info] = loop (cams, P, obs, varargin)
%!  for f = 1:rows (cams)
%!    [X(f, :), info(f, 1)] = camera_pose_refine (cams(f, :), P{f}, obs{f}, varargin{:});
%!  end
%!endfunction

%!function check_info (info, ref)
%!  assert (size (info), size (ref));
%!  assert (all ([info.ok]));
%!  for name = fieldnames (ref)'
%!    assert ({info.(name{1})}, {ref.(name{1})}, 1e-12);
%!  end
%!endfunction

## Every code, cell inputs of different N per frame, 1 and 3 threads.
%!test
%! for code = [0, 1, 2, 3, 10, 11, 12, -1, -2, -3]
%!   [cams, P, obs] = frames (code, 5, 12, 40);
%!   P{2} = P{2}(:, 1:8); obs{2} = obs{2}(:, 1:8);
%!   crit = [15, 0, -1e4, 0];
%!   [Xr, ir] = loop (cams, P, obs, crit, code);
%!   for threads = [1, 3]
%!     [X, info] = camera_pose_refine_batch (cams, P, obs, crit, code, [], struct ("threads", threads));
%!     assert (X, Xr, 1e-12);
%!     check_info (info, ir);
%!   end
%! end

## 3-D arrays, weights shared and per frame, a robust loss, finite differences.
%!test
%! [cams, P, obs] = frames (0, 4, 10, 70);
%! P3 = cat (3, P{:}); obs3 = cat (3, obs{:});
%! w = 1 + mod (1:20, 3);
%! crit = [10, 0, -1e4, 1];
%! Xr = loop (cams, P, obs, crit, 0, w);
%! assert (camera_pose_refine_batch (cams, P3, obs3, crit, 0, w), Xr, 1e-12);
%! ws = {w, [], w, 2 * w};
%! for f = 1:4
%!   if isempty (ws{f}) Xr(f, :) = camera_pose_refine (cams(f, :), P{f}, obs{f}, crit, 0);
%!   else Xr(f, :) = camera_pose_refine (cams(f, :), P{f}, obs{f}, crit, 0, ws{f}); end
%! end
%! assert (camera_pose_refine_batch (cams, P3, obs3, crit, 0, ws), Xr, 1e-12);
%! opts = struct ("loss", "huber", "loss_scale", 2);
%! [Xr, ir] = loop (cams, P, obs, [10, 0, -1e4, 0], 0, ones (1, 20), opts);
%! [X, info] = camera_pose_refine_batch (cams, P, obs, [10, 0, -1e4, 0], 0, [], opts);
%! assert (X, Xr, 1e-12);
%! check_info (info, ir);

## A NaN point fails its frame only; the message names it.
%!test
%! [cams, P, obs] = frames (0, 3, 10, 90);
%! P{2}(3, 4) = NaN;
%! [X, info] = camera_pose_refine_batch (cams, P, obs);
%! assert ([info.ok], [true, false, true]);
%! assert (all (isnan (X(2, :))));
%! assert (! isempty (strfind (info(2).error, "Input 2 should hold finite numbers only")));
%! assert (X([1, 3], :), loop (cams([1, 3], :), P([1, 3]), obs([1, 3])), 1e-12);

## The kernel solver: the framework's minimum on every frame and code; its own
## bits. No frames: empty outputs. Weights that do not fit fail their frame only.
%!test
%! for code = [0, 2, 10, -1]
%!   [cams, P, obs] = frames (code, 4, 12, 20);
%!   crit = [30, 0, -1e4, 0];
%!   Xf = camera_pose_refine_batch (cams, P, obs, crit, code);
%!   [Xk, info] = camera_pose_refine_batch (cams, P, obs, crit, code, [], struct ("solver", "kernel"));
%!   assert (all ([info.ok]));
%!   if (columns (Xf) == 7)  # quaternions: the same rotation, the lengths may differ
%!     Xf(:, 1:4) ./= sqrt (sum (Xf(:, 1:4) .^ 2, 2));
%!     Xk(:, 1:4) ./= sqrt (sum (Xk(:, 1:4) .^ 2, 2));
%!   end
%!   assert (Xk, Xf, 1e-8);
%! end
%! [X, info] = camera_pose_refine_batch (zeros (0, 9), {}, {});
%! assert (size (X), [0, 6]);
%! assert (size (info), [0, 1]);
%! [cams, P, obs] = frames (0, 3, 10, 30);
%! [X, info] = camera_pose_refine_batch (cams, P, obs, [10 0 -1e4 0], 0, {ones(1, 20), ones(1, 19), -ones(1, 20)});
%! assert ([info.ok], [true, false, false]);
%! assert (! isempty (strfind (info(2).error, "weights should be empty or hold one value per equation (20), instead it had 19")));
%! assert (! isempty (strfind (info(3).error, "weights should hold finite numbers, 0 or more, instead weight 1 is -1")));
%! assert (X(1, :), camera_pose_refine (cams(1, :), P{1}, obs{1}), 1e-12);

## Refusals of the whole call.
%!error <threads should be from 0 \(the number of cores\) to 4096, instead got 10000> camera_pose_refine_batch (zeros (1, 9), {ones(3, 4)}, {ones(2, 4)}, [10 0 -1e4 0], 0, [], struct ("threads", 10000))
%!error <field 'solver' should be one of 'framework', 'kernel'> camera_pose_refine_batch (zeros (1, 9), {ones(3, 4)}, {ones(2, 4)}, [10 0 -1e4 0], 0, [], struct ("solver", "gpu"))
%!error <Input 1 should be a double matrix> camera_pose_refine_batch (zeros (2, 8), {1, 2}, {1, 2})
%!error <Input 2 should be a cell array of 2> camera_pose_refine_batch (zeros (2, 9), {ones(3)}, {1, 2})
%!error <Input 3 should hold 2 by N> camera_pose_refine_batch (zeros (1, 9), {ones(3, 4)}, {ones(2, 3)})
%!error <threads should be a whole number> camera_pose_refine_batch (zeros (1, 9), {ones(3, 4)}, {ones(2, 4)}, [10 0 -1e4 0], 0, [], struct ("threads", 1.5))
%!error <unknown|not one of|field> camera_pose_refine_batch (zeros (1, 9), {ones(3, 4)}, {ones(2, 4)}, [10 0 -1e4 0], 0, [], struct ("thread", 1))
