function post_install (desc)
  % Octave reads the help of a MEX function from the .m file beside it, but pkg
  % installs .m files and compiled files into different folders: move the help
  % file next to camera_pose_refine.mex.
  mex = dir (fullfile (desc.dir, "*", "camera_pose_refine.mex"));
  if (! isempty (mex))
    movefile (fullfile (desc.dir, "camera_pose_refine.m"), mex(1).folder);
  end
end
