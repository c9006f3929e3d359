import sys

from yolpt.cli import main

sys.exit(main())
