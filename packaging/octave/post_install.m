function post_install (desc)
  % Octave reads the help of a MEX function from the .m file beside it, but pkg
  % installs .m files and compiled files into different folders: move each help
  % file next to its .mex. A help file without its .mex (camera_pose_estimate
  % when OpenGV was missing at build time) is removed.
  for name = {"camera_pose_refine", "camera_pose_refine_batch", "camera_pose_estimate", ...
               "camera_rig_pose_estimate"}
    help_file = fullfile (desc.dir, [name{1} ".m"]);
    if (! exist (help_file, "file"))
      continue;
    end
    mex = dir (fullfile (desc.dir, "*", [name{1} ".mex"]));
    if (! isempty (mex))
      movefile (help_file, mex(1).folder);
    else
      delete (help_file);
    end
  end
end
