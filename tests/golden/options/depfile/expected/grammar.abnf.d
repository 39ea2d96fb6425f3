grammar.abnf: \
  in.pvx \
  in.pvxcfg \
  lib\ \#1\ $$x.pvx

in.pvx:

in.pvxcfg:

lib\ \#1\ $$x.pvx:
